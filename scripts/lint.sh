#!/usr/bin/env bash
# clang-tidy (.clang-tidy) and cppcheck (.cppcheck-suppressions and the options below) over the
# tool, the simulated platform, the emulator images, the image embedder and every test, and
# every shell script of the tree through shellcheck; any finding fails.
#   scripts/lint.sh [build-dir]   a configured host build (default build); make lint builds it
# Logs go to <build-dir>/lint. LINT_JOBS sets the parallel clang-tidy runs (default: nproc).
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
jobs=${LINT_JOBS:-$(nproc)}
clang_tidy=${CLANG_TIDY:-clang-tidy}
work=$build/lint

if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: $build has no compile_commands.json; configure the host build first" >&2
  exit 2
fi
rm -rf "$work"
mkdir -p "$work/tidy" "$work/cppcheck"

# Every shell script through shellcheck: a .sh name or a shell in its #! line, build trees left
# out.
shell_scripts=()
shebang='^#!.*[/ ](ba|da|k)?sh([[:space:]]|$)'
while IFS= read -r -d '' f; do
  first=""
  IFS= read -r first <"$f" || true
  if [[ $f == *.sh || $first =~ $shebang ]]; then
    shell_scripts+=("${f#"$src"/}")
  fi
done < <(find "$src" \( -path "$src/.git" -o -path "$src/build" -o -path "$src/build-*" \
  -o -path "$src/out" -o -path "$build" \) -prune -o -type f -print0 | LC_ALL=C sort -z)
shellcheck_status=0
if ! command -v shellcheck >/dev/null 2>&1; then
  echo "lint: shellcheck is missing (scripts/install-deps.sh installs it)" >"$work/shellcheck.log"
  shellcheck_status=1
else
  cd "$src"
  shellcheck -x --source-path=SCRIPTDIR -f gcc "${shell_scripts[@]}" >"$work/shellcheck.log" 2>&1 ||
    shellcheck_status=1
  cd - >/dev/null
fi
cat "$work/shellcheck.log"
shellcheck_count=$(grep -cE '^[^ ]+:[0-9]+:[0-9]+: ' "$work/shellcheck.log" || true)
echo "lint: shellcheck: ${#shell_scripts[@]} scripts, $shellcheck_count finding(s)"

# One compilation database for everything we lint: the host build's entries (each source once),
# the UEFI build's for the sources only it compiles (freestanding runtime, port I/O, the
# emulator images), and entries made up for the sources no build in this tree compiles: the fuzz
# targets (a clang tree of their own) and the image embedder (built at configure time). The
# generated image arrays are left out.
python3 - "$src" "$build" "$work" <<'EOF'
import glob, json, os, shlex, sys
src, build, work = sys.argv[1:4]
merged, seen = [], set()

def add(entry):
    path = os.path.realpath(os.path.join(entry['directory'], entry['file']))
    if path in seen or not path.startswith(src + '/') or path.startswith(build + '/'):
        return
    seen.add(path)
    merged.append(dict(entry, file=path))

def like(template, path, extra=()):
    args = shlex.split(template['command'])
    args = [a for a in args if a != template['file']]
    if '-o' in args:
        i = args.index('-o')
        del args[i:i + 2]
    if '-c' in args:
        args.remove('-c')
    args += list(extra) + ['-c', path]
    return {'directory': template['directory'], 'file': path, 'command': shlex.join(args)}

host = json.load(open(os.path.join(build, 'compile_commands.json')))
for entry in host:
    add(entry)
uefi = os.path.join(build, 'uefi', 'compile_commands.json')
if os.path.exists(uefi):
    for entry in json.load(open(uefi)):
        add(entry)
else:
    print('lint: no UEFI build in this tree; the UEFI-only sources are not linted',
          file=sys.stderr)
tests = [e for e in host if '/tests/host/' in e['file']]
if tests:
    for path in sorted(glob.glob(os.path.join(src, 'tests/fuzz/*.cpp'))):
        # One reader stands for all: the rest differ only in the branch READER picks.
        extra = ['-DREADER=1'] if path.endswith('readers_fuzz.cpp') else []
        add(like(tests[0], path, extra))
embedder = os.path.join(src, 'scripts/embed_images.cpp')
if os.path.exists(embedder):
    add({'directory': build, 'file': embedder,
         'command': shlex.join(['c++', '-std=c++20', '-Wall', '-Wextra', '-I' + src, '-c',
                                     embedder])})

json.dump(merged, open(os.path.join(work, 'compile_commands.json'), 'w'), indent=1)
with open(os.path.join(work, 'sources'), 'w') as out:
    for entry in sorted(merged, key=lambda e: e['file']):
        out.write(entry['file'] + '\n')
EOF
mapfile -t sources <"$work/sources"
echo "lint: ${#sources[@]} sources, $jobs jobs"

# clang-tidy: one log per source; findings in our headers are reported once.
folders='app|catalogue|chip|console|formats|os|platform|sim|tests|uefi|update|scripts'
export clang_tidy work
src_pattern=$(printf '%s' "$src" | sed 's/[.[*^$+?(){}|]/\\&/g')
export header_filter="^$src_pattern/($folders)/"
tidy_one() {
  local log
  log=$work/tidy/$(echo "${1#/}" | tr / _).log
  if ! "$clang_tidy" -p "$work" --quiet --header-filter="$header_filter" "$1" >"$log" 2>&1; then
    echo "$1" >>"$work/tidy/failed"
  fi
}
export -f tidy_one
# shellcheck disable=SC2016 # $1 is the bash's that xargs starts, not ours
printf '%s\n' "${sources[@]}" | xargs -P "$jobs" -I{} bash -c 'tidy_one "$1"' _ {}
grep -hE '^/[^:]+:[0-9]+:[0-9]+: (warning|error): ' "$work"/tidy/*.log | sort -u \
  >"$work/clang-tidy.findings" || true
tidy_count=$(wc -l <"$work/clang-tidy.findings")
if [ -s "$work/tidy/failed" ] && [ "$tidy_count" -eq 0 ]; then
  # clang-tidy failed without a diagnostic we could pick out: show its whole output.
  while read -r f; do cat "$work/tidy/$(echo "${f#/}" | tr / _).log"; done <"$work/tidy/failed"
  tidy_count=1
fi
sed "s|^$src/||" "$work/clang-tidy.findings"
echo "lint: clang-tidy: $tidy_count finding(s)"

# cppcheck over the same sources, with the headers they include from the tree. The access code
# only needs to be defined; its value does not matter here. The build dir lets the cross-file
# checks run alongside -j.
defines=()
for i in $(seq 0 10); do defines+=("-DPANELUP_ACCESS_DIGIT_$i='0'"); done
cppcheck_status=0
cppcheck --std=c++20 --language=c++ --enable=warning,style,performance,portability \
  --library=googletest --error-exitcode=1 --quiet -j "$jobs" \
  --suppressions-list="$src/.cppcheck-suppressions" --cppcheck-build-dir="$work/cppcheck" \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  -I "$src" -I "$src/os/src" -I "$build/generated" -DREADER=1 "${defines[@]}" \
  "${sources[@]}" 2>"$work/cppcheck.log" || cppcheck_status=$?
sed "s|^$src/||" "$work/cppcheck.log"
cppcheck_count=$(grep -cE '^[^ ]+:[0-9]+:[0-9]+: ' "$work/cppcheck.log" || true)
echo "lint: cppcheck: $cppcheck_count finding(s)"

if [ "$tidy_count" -ne 0 ] || [ "$cppcheck_status" -ne 0 ] || [ "$shellcheck_status" -ne 0 ]; then
  echo "lint: FAILED (logs in $work)"
  exit 1
fi
echo "lint: clean"
