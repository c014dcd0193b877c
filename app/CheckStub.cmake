# Checks a built stub against the rules of the package layout; run as
#   cmake -DSTUB=<stub.exe> [-DOBJDUMP=<objdump>] -P CheckStub.cmake
#
# A package is the stub followed by a cabinet whose header the stub finds by
# searching for "MSCF" from offset 160000 on, no later than 225529 (a shorter
# stub is padded up to 160000 by the packer). So the stub may be at most
# 225529 bytes long, and none of its own bytes from 160000 on may read
# "MSCF", or the search would stop inside the stub. With OBJDUMP given, the
# stub may also import only from system DLLs that every Windows has: the
# runtime is linked in, and the common controls come through the manifest.
# A stub that breaks a rule is deleted, so that the next build links and
# checks it again.
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
if(OBJDUMP)
  set(SYSTEM_DLLS advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll shlwapi.dll user32.dll)
  execute_process(COMMAND "${OBJDUMP}" -p "${STUB}" OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
  if(failed)
    reject("${OBJDUMP} cannot read it")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
  foreach(import IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${import}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST SYSTEM_DLLS)
      reject("imports from ${dll}, which is no system DLL of every Windows")
    endif()
  endforeach()
endif()
message(STATUS "${STUB}: ${size} bytes, package rules met")
