#!/bin/sh
# Mutation check: applies one-line edits to the product (each a fault the
# tests must catch), one at a time; rebuilds the test program that covers
# it, runs the tests that guard it and reports every edit that left them
# green (a survivor). `make mutants` runs it; it is not part of `make test`.
#
#   scripts/mutants.sh            every edit of the list below
#   scripts/mutants.sh attrib     only the edits whose name holds "attrib"
#   MUTANT_PRESETS=native scripts/mutants.sh   only the edits of these presets
#
# Each line of the list: name @@ preset @@ build target @@ ctest regex @@
# file @@ the text of the line to change (it must occur exactly once in the
# file) @@ what it becomes. Edits of app/ and of Windows behaviour run on
# the mingw-x64 preset, under wine64; the others natively. Every file is
# restored after its edit, also when the run is interrupted. Exit status: 0
# when every edit was caught, 1 when one survived or could not be applied.
cd "$(dirname "$0")/.." || exit 2
ROOT=$(pwd)
FILTER=${1:-}
WORK=$(mktemp -d)
RESULTS=$WORK/results
: >"$RESULTS"
BUILT=""

# The file being edited and its original are kept in the build tree until
# the file is restored: a run that was killed outright (no trap runs) is
# undone by the next one before it edits anything.
JOURNAL=$ROOT/build/mutants-journal
restore() {
  if [ -f "$JOURNAL/path" ]; then
    cp "$JOURNAL/original" "$ROOT/$(cat "$JOURNAL/path")" || exit 2
    rm -f "$JOURNAL/path"
  fi
}
finish() {
  restore
  rm -rf "$WORK"
}
mkdir -p "$JOURNAL" || exit 2
if [ -f "$JOURNAL/path" ]; then
  echo "mutants: restoring $(cat "$JOURNAL/path"), left edited by a run that was stopped"
  restore
fi
trap finish EXIT
trap 'restore; exit 130' INT
trap 'restore; exit 143' TERM HUP

# Replaces the one line holding $2 in file $1 with $3; fails when the text
# is not there exactly once.
apply_edit() {
  python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
EOF
}

configure() {
  case " $BUILT " in
  *" $1 "*) return 0 ;;
  esac
  cmake --preset "$1" >/dev/null || return 1
  BUILT="$BUILT $1"
}

run_one() {
  name=$1 preset=$2 target=$3 tests=$4 file=$5 old=$6 new=$7
  if [ -n "$FILTER" ] && ! echo "$name" | grep -q -- "$FILTER"; then
    return
  fi
  case " ${MUTANT_PRESETS:-native mingw-x64} " in
  *" $preset "*) ;;
  *) return ;;
  esac
  configure "$preset" || { echo "BROKEN   $name (cmake --preset $preset)" | tee -a "$RESULTS"; return; }
  cp "$ROOT/$file" "$JOURNAL/original" || exit 2
  echo "$file" >"$JOURNAL/path"
  if ! apply_edit "$ROOT/$file" "$old" "$new"; then
    restore
    echo "STALE    $name ($file no longer holds the line once)" | tee -a "$RESULTS"
    return
  fi
  log=$WORK/$name.log
  if ! cmake --build "build/$preset" -j "${JOBS:-2}" --target "$target" >"$log" 2>&1; then
    verdict="KILLED   $name (does not build)"
  elif ctest --test-dir "build/$preset" -R "$tests" -j "${JOBS:-2}" --timeout 300 --no-tests=error >>"$log" 2>&1; then
    verdict="SURVIVED $name: $file: $new"
  elif grep -q "No tests were found" "$log"; then
    verdict="BROKEN   $name (no test matches $tests)"
  else
    verdict="KILLED   $name"
  fi
  restore
  echo "$verdict" | tee -a "$RESULTS"
}

# The list. Regexes name the test suites that guard each edit.
CAB='^(Extract|ProgressTest|AppliedAttributes|NameCheck|NameRule|HostileDestination|cabinet_tests)'
FDI='^(Fdi|CabinetLibrary|BlockChecksum|Mszip|Quantum)'
while IFS= read -r line; do
  case "$line" in '' | '#'*) continue ;; esac
  # Fields are separated by " @@ ".
  name=${line%% @@ *}; rest=${line#* @@ }
  preset=${rest%% @@ *}; rest=${rest#* @@ }
  target=${rest%% @@ *}; rest=${rest#* @@ }
  tests=${rest%% @@ *}; rest=${rest#* @@ }
  file=${rest%% @@ *}; rest=${rest#* @@ }
  old=${rest%% @@ *}; new=${rest#* @@ }
  case "$tests" in CAB) tests=$CAB ;; FDI) tests=$FDI ;; esac
  run_one "$name" "$preset" "$target" "$tests" "$file" "$old" "$new" </dev/null
done <<'LIST'
# Faults the first review found surviving.
attrib-mask @@ native @@ cabinet_tests @@ CAB @@ cabinet/Extract.cpp @@ return stored & Fdi::CAB_ATTRIBS_OF_FILE; @@ return stored;
short-path-folder @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ if (directory.Length() < 2 || name.Length() < 2) { @@ if (directory.Length() < 1 || name.Length() < 2) {
short-path-name @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ if (directory.Length() < 2 || name.Length() < 2) { @@ if (directory.Length() < 2 || name.Length() < 1) {
last-tick-at-open @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ m_CurrentFile.LastTick = GetTickCount(); @@ static_cast<void>(0);
progress-interval @@ native @@ cabinet_tests @@ CAB @@ cabinet/Extract.h @@ DEFAULT_PROGRESS_INTERVAL_MS = 200; @@ DEFAULT_PROGRESS_INTERVAL_MS = 250;
copy-ignores-fdicopy @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ if (!extracted) { @@ if (!extracted && false) {
destructor-slot @@ native @@ cabinet_tests @@ CAB @@ cabinet/Extract.cpp @@ if (SlotValue() == this) { @@ if (SlotValue() == this && false) {
next-name-on-fdie @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ m_NextCabinet.AssignMultiByte(CP_UTF8, next); @@ if (notification->fdie == FDIERROR_NONE) { m_NextCabinet.AssignMultiByte(CP_UTF8, next); }
short-file-memory @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ complete = static_cast<uint32_t>(m_Sink.Used()) == m_SinkFileSize; @@ complete = true;
short-file-disk @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ complete = handle == m_CurrentFile.Handle && m_CurrentFile.Received == m_CurrentFile.Size; @@ complete = handle == m_CurrentFile.Handle;
creation-time @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ SetFileTime(reinterpret_cast<HANDLE>(file), &utc, nullptr, &utc); @@ SetFileTime(reinterpret_cast<HANDLE>(file), nullptr, nullptr, &utc);
copy-info-name @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ info.Name = name.Data; @@ info.Name = relPath.Data;
copy-info-reldir @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ info.RelDir = relDir.Data; @@ info.RelDir = relPath.Data;
copy-info-outdir @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ info.OutDir = outDir.Data; @@ info.OutDir = outPath.Data;
cabinet-info-path @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ info.CabinetPath = cabinetPath.Data; @@ info.CabinetPath = WIDE("");
cabinet-info-set @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ info.SetId = notification->setID; @@ info.SetId = 0;
cabinet-info-index @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ info.CabinetIndex = notification->iCabinet; @@ info.CabinetIndex = 0;
# The extractor's safety rules: names, set members, links, FIFOs.
name-device @@ native @@ cabinet_tests @@ CAB @@ cabinet/NameCheck.cpp @@ {"con", "prn", "aux", "nul", "conin$", "conout$"}; @@ {"con", "prn", "nul", "conin$", "conout$"};
name-control @@ native @@ cabinet_tests @@ CAB @@ cabinet/NameCheck.cpp @@ if (ch < 0x20) { @@ if (ch < 0x1F) {
name-trailing-space @@ native @@ cabinet_tests @@ CAB @@ cabinet/NameCheck.cpp @@ if (level[length - 1] == WIDE('.') || level[length - 1] == WIDE(' ')) { @@ if (level[length - 1] == WIDE('.')) {
name-level-length @@ native @@ cabinet_tests @@ CAB @@ cabinet/NameCheck.cpp @@ return length > MAX_NAME_LEVEL ? NameRule::LevelTooLong : NameRule::Accepted; @@ return length > MAX_NAME_LEVEL + 1 ? NameRule::LevelTooLong : NameRule::Accepted;
set-member-any @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractCopy.cpp @@ if (std::strcmp(member, m_FirstCabinet.Data) == 0) { @@ if (std::strcmp(member, m_FirstCabinet.Data) == 0 || true) {
link-folder @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractOutput.cpp @@     if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) { @@     if (false) {
fifo-output @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractOutput.cpp @@     if (type != FILE_TYPE_DISK) { @@     if (false) {
header-search-last @@ native @@ cabinet_tests @@ CAB @@ cabinet/PackageLayout.cpp @@ i < static_cast<size_t>(CABINET_SEARCH_POSITIONS) @@ i <= static_cast<size_t>(CABINET_SEARCH_POSITIONS)
header-check @@ native @@ cabinet_tests @@ CAB @@ cabinet/ExtractStreams.cpp @@ if (position != 0 || n < 4) { @@ if (position != 0 || n < 4 || true) {
# The decoder.
block-checksum @@ native @@ fdi_tests @@ FDI @@ fdi/BlockReader.cpp @@ if (stored == 0) { @@ if (true) {
block-input-limit @@ native @@ fdi_tests @@ FDI @@ fdi/BlockReader.cpp @@ if (*cbData > room) { @@ if (*cbData > room + 1) {
stored-block-sizes @@ native @@ fdi_tests @@ FDI @@ fdi/FolderReader.cpp @@ if (inSize != outSize) { @@ if (inSize < outSize) {
version-limit @@ native @@ fdi_tests @@ FDI @@ fdi/CabParser.cpp @@ if (header->Version > CAB_VERSION_MAX) { @@ if (header->Version > CAB_VERSION_MAX + 1) {
coff-files @@ native @@ fdi_tests @@ FDI @@ fdi/CabParser.cpp @@ if (header.CFiles > 0 && stream.Position() != header.CoffFiles) { @@ if (false) {
wrong-next-cabinet @@ native @@ fdi_tests @@ FDI @@ fdi/CabinetSet.cpp @@ if (hold->Header.SetId != from.SetId || hold->Header.ICabinet != setIndex) { @@ if (hold->Header.SetId != from.SetId) {
enumerate-count @@ native @@ fdi_tests @@ FDI @@ fdi/ClientDialogue.cpp @@ *remaining = note.iFolder < left ? note.iFolder : left; @@ *remaining = left;
mszip-signature @@ native @@ fdi_tests @@ FDI @@ fdi/Mszip.cpp @@ if (inSize < 2 || in[0] != 'C' || in[1] != 'K') { @@ if (inSize < 2 || in[0] != 'C') {
quantum-offset @@ native @@ fdi_tests @@ FDI @@ fdi/Quantum.cpp @@ if (offset > available) { @@ if (offset > available + 1) {
iscabinet-hasnext @@ native @@ fdi_tests @@ FDI @@ fdi/Fdi.cpp @@ pfdici->hasnext = 0; @@ pfdici->hasnext = header.HasNext();
exec-bit @@ native @@ fdi_tests @@ FDI @@ fdi/ClientDialogue.cpp @@ note.attribs = uint16_t(file.Attribs & ~_A_EXEC); @@ note.attribs = file.Attribs;
# The stub.
bar-range-empty @@ mingw-x64 @@ app_tests @@ ^ExtractionRunTest @@ app/ExtractionRun.cpp @@ if (g_ProgressWnd != nullptr) { @@ if (g_ProgressWnd != nullptr && info.cFiles != 0) {
LIST

echo "=== mutants"
killed=$(grep -c '^KILLED' "$RESULTS")
total=$(grep -c . "$RESULTS")
grep -v '^KILLED' "$RESULTS"
echo "mutants: $killed of $total caught"
[ "$killed" = "$total" ]
