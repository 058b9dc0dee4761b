#!/usr/bin/env bash
# Mutation check: do the tests catch real faults? Applies each fault of scripts/mutation-faults.txt to
# src/ alone, builds only what the fault's tests need, runs those tests, and prints which faults no test
# caught. The source is restored after every fault (also when interrupted). Slow: a build and a test run
# per fault, about a quarter of an hour for the whole list on two cores; not part of the test command.
#
#   scripts/mutation-check.sh                          every fault
#   scripts/mutation-check.sh server ui                only faults with one of these labels
#   scripts/mutation-check.sh --only 'PIN|ticket'      only faults whose "labels: title" matches
#   scripts/mutation-check.sh --results FILE           also one line per fault in FILE:
#                                                      outcome TAB labels TAB title (compare two runs with diff)
#   scripts/mutation-check.sh --check-list             check that every fault applies; build and run nothing
#   FAULTS=path/to/list scripts/mutation-check.sh
#
# A fault in the list:
#
#   === server,fault: a lock dropped in the claimed names
#   file: src/server/DestinationReservations.cpp
#   tests: ^Load\.
#   - the exact lines of src/ to replace (unique in the file; several "- " lines for several lines)
#   + the faulty lines ("+" alone for an empty line; no "+" line at all removes the lines)
#
# Labels are CTest labels (server, fuzz, fault, receiver, ui, audio, web); several are separated by
# commas and their tests all run. `server` runs the corpus replays of the fuzz targets too: they are the
# server's parsers' own tests. The optional `tests:` line narrows the run to the CTest tests whose names
# match it (`ctest -R`), e.g. one browser test file instead of the whole web suite. Build and test output
# of each fault goes to build/mutation-logs/.
#
# Prints one line per fault: "caught" (with the first test that failed), "MISSED", "does not apply"
# (the lines are not in the file exactly once), "does not build", or "no tests" (the labels and the
# `tests:` line select none); then a summary. Exits 1 when a fault was missed, 2 when the list has faults
# that do not apply or build (fix them and rerun those with --only), 0 otherwise.
#
# To stop a run in the background, signal its process group (kill -- -PGID): the file being changed is
# put back first.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ " $* " != *" --check-list "* ]]; then
    if [[ -n "$(git status --porcelain -- src)" ]]; then
        echo "src/ has changes that are not committed; the check edits src/ and would mix them in:" >&2
        git status --short -- src >&2
        exit 2
    fi
    scripts/install-deps.sh
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    echo "Building everything once, so that each fault rebuilds only what it changes"
    cmake --build build -j "$(nproc)" >/dev/null
fi
# DNS-SD tests need a running avahi-daemon, the audio playback tests a sound server.
services=(scripts/with-avahi.sh scripts/with-pulseaudio.sh)
[[ " $* " == *" --check-list "* ]] && services=()
exec "${services[@]}" python3 - "${FAULTS:-scripts/mutation-faults.txt}" "$@" <<'PYTHON'
import argparse, pathlib, re, signal, subprocess, sys, time

arguments = argparse.ArgumentParser(prog='scripts/mutation-check.sh')
arguments.add_argument('faults_file')
arguments.add_argument('labels', nargs='*')
arguments.add_argument('--only', help='regular expression over "labels: title"')
arguments.add_argument('--results', help='file for one line per fault: outcome, labels and title, tab-separated')
arguments.add_argument('--check-list', action='store_true')
options = arguments.parse_args()


def fuzz_replay_targets():
    text = pathlib.Path('tests/fuzz/CMakeLists.txt').read_text(encoding='utf-8')
    return [f'fuzz_{name}_replay' for name in re.findall(r'^ferrylantern_add_fuzz_target\((\w+)', text, re.M)]


# What each label's tests need built (see each tests/*/CMakeLists.txt: the test executables, and the
# programs they start), and the CTest labels that run them.
FUZZ = fuzz_replay_targets()
TARGETS = {
    'server': ['server_tests', *FUZZ],
    'fuzz': FUZZ,
    'fault': ['fault_tests', 'ferrylantern-server'],
    'receiver': ['receiver_tests', 'lan_address_probe', 'ferrylantern-server'],
    'ui': ['ui_tests', 'ferrylantern'],
    'audio': ['audio_tests', 'audio_output_tests', 'audio_no_output_tests'],
    'web': ['ferrylantern-server'],
}
CTEST_LABELS = {'server': ['server', 'fuzz']}


def parse(text):
    """Blocks: '=== LABELS: title', 'file: PATH', optional 'tests: REGEX', then '- old' and '+ new' lines."""
    faults, current = [], None
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith('=== '):
            labels, _, title = line[4:].partition(':')
            current = {'labels': [label.strip() for label in labels.split(',')], 'title': title.strip(),
                       'file': None, 'tests': None, 'old': [], 'new': [], 'line': number}
            current['name'] = f"{','.join(current['labels'])}: {current['title']}"
            faults.append(current)
        elif line.startswith('#') or (current is None and not line.strip()):
            continue
        elif current is None:
            sys.exit(f'{options.faults_file}:{number}: text before the first fault')
        elif line.startswith('file: '):
            current['file'] = line[6:].strip()
        elif line.startswith('tests: '):
            current['tests'] = line[7:].strip()
        elif line.startswith('- ') or line == '-':
            current['old'].append(line[2:])
        elif line.startswith('+ ') or line == '+':
            current['new'].append(line[2:])
        elif line.strip():
            sys.exit(f'{options.faults_file}:{number}: not part of a fault: {line}')
    return faults


def problems_of(fault, names):
    if not fault['title']:
        yield 'no title'
    if names.count(fault['name']) > 1:
        yield 'another fault has the same labels and title'
    for label in fault['labels']:
        if label not in TARGETS:
            yield f'unknown label "{label}" (known: {", ".join(TARGETS)})'
    if not fault['file'] or not fault['file'].startswith('src/'):
        yield 'no "file:" line naming a file under src/'
    if not fault['old']:
        yield 'no "- " lines'
    if fault['old'] == fault['new']:
        yield 'the new lines are the old ones'


faults = parse(pathlib.Path(options.faults_file).read_text(encoding='utf-8'))
names = [fault['name'] for fault in faults]
invalid = [(fault, list(problems_of(fault, names))) for fault in faults]
invalid = [(fault, problems) for fault, problems in invalid if problems]
for fault, problems in invalid:
    print(f"{options.faults_file}:{fault['line']}: {fault['name']}: {'; '.join(problems)}", file=sys.stderr)
if invalid:
    sys.exit(2)

faults = [f for f in faults
          if (not options.labels or set(f['labels']) & set(options.labels))
          and (not options.only or re.search(options.only, f['name']))]


def old_and_new(fault):
    return '\n'.join(fault['old']), '\n'.join(fault['new'])


def applies(fault):
    path = pathlib.Path(fault['file'])
    return path.is_file() and path.read_text(encoding='utf-8').count(old_and_new(fault)[0]) == 1


if options.check_list:
    broken = [fault for fault in faults if not applies(fault)]
    by_label = {}
    for fault in faults:
        for label in fault['labels']:
            by_label[label] = by_label.get(label, 0) + 1
    print(f"{len(faults)} faults; by label: " + ', '.join(f'{label} {count}' for label, count in by_label.items()))
    for fault in broken:
        print(f"does not apply: {fault['name']} (line {fault['line']})")
    sys.exit(2 if broken else 0)

build = pathlib.Path('build')
logs = build / 'mutation-logs'
logs.mkdir(exist_ok=True)
for old_log in logs.glob('*.log'):
    old_log.unlink()  # the numbers are this run's
restore = {}


def put_back():
    for path, original in restore.items():
        path.write_bytes(original)
    restore.clear()


def interrupted(signal_number, _frame):
    put_back()
    print('\ninterrupted: src/ is restored; build/ holds binaries of the last fault until the next build',
          file=sys.stderr, flush=True)
    sys.exit(128 + signal_number)


signal.signal(signal.SIGINT, interrupted)
signal.signal(signal.SIGTERM, interrupted)


def run(command, timeout, log):
    """The command's exit status (124 when it ran out of time) and its output, also appended to log."""
    try:
        done = subprocess.run(command, cwd=build, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              errors='replace', timeout=timeout)
        code, output = done.returncode, done.stdout
    except subprocess.TimeoutExpired as expired:
        output = expired.stdout.decode(errors='replace') if isinstance(expired.stdout, bytes) else (expired.stdout or '')
        code, output = 124, output + f'\n(ran out of time after {timeout} s)\n'
    with log.open('a', encoding='utf-8') as file:
        file.write(f"$ {' '.join(command)}\n{output}\n(exit status {code})\n\n")
    return code, output


def first_failed_test(output):
    after = output.partition('The following tests FAILED:')[2]
    found = re.search(r'^\s*\d+\s*-\s*(\S+)', after, re.M)
    return found.group(1) if found else None


def write_result(outcome, fault):
    if options.results:
        with open(options.results, 'a', encoding='utf-8') as file:
            file.write(f"{outcome}\t{','.join(fault['labels'])}\t{fault['title']}\n")


if options.results:
    pathlib.Path(options.results).write_text('', encoding='utf-8')
started_all = time.time()
results = []
for number, fault in enumerate(faults, 1):
    path = pathlib.Path(fault['file'])
    original = path.read_bytes()
    text = original.decode('utf-8')
    old, new = old_and_new(fault)
    started = time.time()
    note = ''
    log = logs / f"{number:03d}-{re.sub(r'[^A-Za-z0-9]+', '-', fault['title']).strip('-')[:60]}.log"
    log.write_text(f"{fault['name']}\n{fault['file']}\n--- old\n{old}\n+++ new\n{new}\n\n", encoding='utf-8')
    if text.count(old) != 1:
        outcome = 'does not apply'
    else:
        restore[path] = original
        try:
            path.write_bytes(text.replace(old, new, 1).encode('utf-8'))
            targets = sorted({target for label in fault['labels'] for target in TARGETS[label]})
            labels = sorted({ctest for label in fault['labels'] for ctest in CTEST_LABELS.get(label, [label])})
            code, _ = run(['cmake', '--build', '.', '-j2', '--target', *targets], 3600, log)
            if code != 0:
                outcome = 'does not build'
            else:
                command = ['ctest', '-L', f"^({'|'.join(labels)})$", '-j2', '--timeout', '300', '--stop-on-failure',
                           '--no-tests=error', '--output-on-failure']
                if fault['tests']:
                    command += ['-R', fault['tests']]
                code, output = run(command, 3600, log)
                if code != 0 and 'No tests were found' in output:
                    outcome = 'no tests'
                elif code != 0:
                    outcome = 'caught'
                    caught_by = first_failed_test(output)
                    note = f'  by {caught_by}' if caught_by else ('  (out of time)' if code == 124 else '')
                else:
                    outcome = 'MISSED'
        finally:
            put_back()
    results.append((outcome, fault))
    write_result(outcome, fault)
    print(f"[{number}/{len(faults)}] {outcome:15} {fault['name']}  ({time.time() - started:.0f} s){note}", flush=True)

print('\nBuilding the real code again', flush=True)
run(['cmake', '--build', '.', '-j2'], 7200, logs / 'restore.log')
caught = sum(1 for outcome, _ in results if outcome == 'caught')
counted = sum(1 for outcome, _ in results if outcome in ('caught', 'MISSED'))
minutes = (time.time() - started_all) / 60
print(f"\ncaught {caught} of {counted} faults that apply and build"
      f" ({100.0 * caught / max(counted, 1):.0f} %); {len(results) - counted} did not apply, build or select tests;"
      f" {minutes:.0f} min")
for outcome, fault in results:
    if outcome != 'caught':
        print(f"  {outcome}: {fault['name']}")
if caught < counted:
    sys.exit(1)
sys.exit(2 if counted < len(results) else 0)
PYTHON
