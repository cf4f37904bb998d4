#!/usr/bin/env python3
"""Applies deliberate faults (mutants) one at a time and reports which test catches each.

    python3 scripts/mutants.py [--list FILE] [--lock-wait S] [ID ...]

Each mutant in the list (scripts/mutants.txt by default) is one exact text substitution in one
source file: fields id, file, tests, old, new, why; a written \\n in old/new is a line break.
For each mutant in turn: take the package's build lock (/tmp/lock-<package>), replace the text
(it must occur exactly once), rebuild only the named test targets in build/<package>, run those
tests with ctest inside the private network namespace, and write the original file back whatever
happens (failure, Ctrl-C, SIGTERM). At the end the touched test targets are rebuilt from the
restored sources, so the build folder holds no mutant. Needs a built workspace (scripts/build.sh).
A mutant is caught when a test fails; the report names the failing cases, or the case that was
running when the test binary crashed. Exit status 0 when every mutant was caught, 1 otherwise.
"""

import argparse
import fcntl
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def package_of(file):
    """The package folder's name (= the package) nearest above `file` that has a package.xml."""
    folder = os.path.dirname(file)
    while folder and not os.path.isfile(os.path.join(ROOT, folder, 'package.xml')):
        folder = os.path.dirname(folder)
    return os.path.basename(folder) if folder else file.split('/')[0]


def parse_list(path):
    """Blocks of `key: value` lines separated by blank lines; `#` starts a comment line."""
    mutants, block = [], {}
    with open(path, encoding='utf-8') as f:
        for raw in f.read().splitlines() + ['']:
            if raw.startswith('#'):
                continue
            if not raw.strip():
                if block:
                    mutants.append(block)
                block = {}
                continue
            key, _, value = raw.partition(':')
            block[key.strip()] = value[1:] if value.startswith(' ') else value
    for m in mutants:
        for key in ('id', 'file', 'tests', 'old', 'new'):
            if key not in m:
                sys.exit(f'mutant {m.get("id", "?")}: missing "{key}"')
        for key in ('old', 'new'):
            m[key] = m[key].replace('\\n', '\n')  # a written \n stands for a line break
        m['package'] = package_of(m['file'])
        m['targets'] = m['tests'].split()
    return mutants


class Lock:
    def __init__(self, package, wait_s):
        self.path = f'/tmp/lock-{package}'
        self.wait_s = wait_s
        self.fd = None

    def __enter__(self):
        self.fd = os.open(self.path, os.O_RDWR | os.O_CREAT, 0o666)
        deadline = time.monotonic() + self.wait_s
        while True:
            try:
                fcntl.flock(self.fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return self
            except BlockingIOError:
                if time.monotonic() > deadline:
                    os.close(self.fd)
                    raise TimeoutError(f'{self.path} busy for more than {self.wait_s} s')
                time.sleep(2)

    def __exit__(self, *exc):
        fcntl.flock(self.fd, fcntl.LOCK_UN)
        os.close(self.fd)


def env():
    e = dict(os.environ)
    e['PATH'] = '/usr/bin:' + e.get('PATH', '')
    return e


def build(package, targets):
    cmd = ['cmake', '--build', os.path.join('build', package), '--target'] + targets + ['--', '-j2']
    r = subprocess.run(cmd, cwd=ROOT, env=env(), capture_output=True, text=True)
    return r.returncode == 0, r.stdout + r.stderr


def run_tests(package, targets):
    """ctest for the named tests, with the package's colcon test environment, in the namespace."""
    regex = '^(' + '|'.join(re.escape(t) for t in targets) + ')$'
    prefix = os.path.join(ROOT, 'build', package, 'colcon_command_prefix_test.sh')
    # The package's own freshly built libraries come before any installed copy.
    script = (f'. "{prefix}" && export LD_LIBRARY_PATH="{ROOT}/build/{package}:$LD_LIBRARY_PATH" && '
              f'ctest --test-dir "build/{package}" -R \'{regex}\' --output-on-failure --timeout 300')
    r = subprocess.run(['bash', 'scripts/netns.sh', 'bash', '-c', script], cwd=ROOT, env=env(),
                       capture_output=True, text=True)
    out = r.stdout + r.stderr
    failed = []
    for line in out.splitlines():
        m = re.match(r'\[  FAILED  \] ([A-Za-z_0-9/.]+(?:\.[A-Za-z_0-9/]+)+)', line)
        if m and m.group(1) not in failed:
            failed.append(m.group(1))
    if r.returncode != 0 and not failed:
        # No failed assertion: the test binary crashed or timed out inside the last case it began.
        running = re.findall(r'\[ RUN      \] (\S+)', out)
        bad = re.findall(r'\d+/\d+ Test +#\d+: (\S+) \.+\*+(\S.*)', out)
        failed = [f'{name} ({why.strip()}' + (f', in {running[-1]})' if running else ')')
                  for name, why in bad] or ['ctest failed']
    return r.returncode != 0, failed, out


def restore(path, original, mutated, m):
    """Writes the original text back (fresh mtime, so the next build recompiles it)."""
    with open(path, encoding='utf-8') as f:
        current = f.read()
    if current == original:
        return
    if current != mutated:
        # Someone edited the file meanwhile: undo only our substitution.
        if current.count(m['new']) == 1:
            current = current.replace(m['new'], m['old'])
            print(f'  warning: {m["file"]} changed while mutated; reverted only the mutant', flush=True)
        else:
            print(f'  ERROR: {m["file"]} changed while mutated; restore it by hand', flush=True)
            return
    else:
        current = original
    with open(path, 'w', encoding='utf-8') as f:
        f.write(current)


def run_one(m, lock_wait):
    path = os.path.join(ROOT, m['file'])
    with open(path, encoding='utf-8') as f:
        original = f.read()
    hits = original.count(m['old'])
    if hits != 1:
        return 'stale', [f'text found {hits} times'], 0.0
    mutated = original.replace(m['old'], m['new'])
    start = time.monotonic()
    with Lock(m['package'], lock_wait):
        try:
            with open(path, 'w', encoding='utf-8') as f:
                f.write(mutated)
            ok, log = build(m['package'], m['targets'])
            if not ok:
                tail = '\n'.join(log.splitlines()[-15:])
                return 'not built', [tail], time.monotonic() - start
            caught, failed, _ = run_tests(m['package'], m['targets'])
            return ('caught' if caught else 'SURVIVED'), failed, time.monotonic() - start
        finally:
            restore(path, original, mutated, m)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--list', default=os.path.join(ROOT, 'scripts', 'mutants.txt'))
    ap.add_argument('--lock-wait', type=float, default=900, help='seconds to wait for a package lock')
    ap.add_argument('ids', nargs='*', help='run only these mutants (default: all)')
    args = ap.parse_args()

    def stop(signum, _frame):
        raise KeyboardInterrupt(f'signal {signum}')
    signal.signal(signal.SIGTERM, stop)

    mutants = [m for m in parse_list(args.list) if not args.ids or m['id'] in args.ids]
    touched = {}
    results = []
    try:
        for m in mutants:
            print(f'{m["id"]}: {m["file"]}', flush=True)
            try:
                status, detail, secs = run_one(m, args.lock_wait)
            except TimeoutError as e:
                status, detail, secs = 'skipped', [str(e)], 0.0
            if status in ('caught', 'SURVIVED', 'not built'):
                touched.setdefault(m['package'], set()).update(m['targets'])
            shown = detail[:6] + ([f'... and {len(detail) - 6} more'] if len(detail) > 6 else [])
            print(f'  {status} ({secs:.0f} s)' + ''.join(f'\n    {d}' for d in shown), flush=True)
            results.append((m['id'], status, detail))
    finally:
        for package, targets in touched.items():
            with Lock(package, 3600):
                ok, log = build(package, sorted(targets))
            print(f'rebuilt {package} {" ".join(sorted(targets))} from the restored sources: '
                  f'{"ok" if ok else "FAILED"}', flush=True)
    print('\nsummary')
    for mid, status, detail in results:
        first = detail[0].splitlines()[0] if detail else ''
        print(f'  {mid:28s} {status:9s} {first}')
    return 0 if all(s == 'caught' for _, s, _ in results) else 1


if __name__ == '__main__':
    sys.exit(main())
