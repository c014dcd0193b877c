# Checks a built stub against the rules of the package layout; run as
#   cmake -DSTUB=<stub.exe> -P CheckStub.cmake
#
# A package is the stub followed by a cabinet whose header the stub finds by
# searching for "MSCF" from offset 160000 on, no later than 225529 (a shorter
# stub is padded up to 160000 by the packer). So the stub may be at most
# 225529 bytes long, and none of its own bytes from 160000 on may read
# "MSCF", or the search would stop inside the stub. A stub that breaks a rule
# is deleted, so that the next build links and checks it again.
cmake_minimum_required(VERSION 3.25)
set(STUB_SIZE_LIMIT 225529)
set(CABINET_SEARCH_START 160000)

function(reject reason)
  file(REMOVE "${STUB}")
  message(FATAL_ERROR "${STUB}: ${reason}; the stub was deleted")
endfunction()

if(NOT EXISTS "${STUB}")
  message(FATAL_ERROR "CheckStub.cmake: no stub at '${STUB}'")
endif()
file(SIZE "${STUB}" size)
if(size GREATER STUB_SIZE_LIMIT)
  reject("${size} bytes, more than the ${STUB_SIZE_LIMIT} a package allows")
endif()

if(size GREATER CABINET_SEARCH_START)
  file(READ "${STUB}" tail OFFSET ${CABINET_SEARCH_START} HEX)
  # Two hex digits per byte: a match at an odd digit position straddles
  # bytes and does not count.
  set(digit 0)
  while(TRUE)
    string(SUBSTRING "${tail}" ${digit} -1 rest)
    string(FIND "${rest}" "4d534346" found)
    if(found EQUAL -1)
      break()
    endif()
    math(EXPR digit "${digit} + ${found}")
    math(EXPR parity "${digit} % 2")
    if(parity EQUAL 0)
      math(EXPR offset "${CABINET_SEARCH_START} + ${digit} / 2")
      reject("holds \"MSCF\" at offset ${offset}, where the cabinet search would find it")
    endif()
    math(EXPR digit "${digit} + 1")
  endwhile()
endif()
message(STATUS "${STUB}: ${size} bytes, package rules met")
