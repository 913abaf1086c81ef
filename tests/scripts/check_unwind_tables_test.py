#!/usr/bin/env python3
"""The unwind-table check against small executables built here, each with one known fault.

usage: check_unwind_tables_test.py CHECK_SCRIPT C_COMPILER
"""
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = None
CC = None

# A function and, at the start of the cold section, an empty FDE and then the real FDE of
# code placed there: what GCC emits for a split function whose cold part came out empty,
# followed by the next function's cold part.
SHADOWED = r"""
	.text
	.globl main
	.type main, @function
main:
	.cfi_startproc
	xorl %eax, %eax
	ret
	.cfi_endproc
	.size main, .-main
	.section .text.unlikely,"ax",@progbits
	.cfi_startproc
	.cfi_endproc
	.type cold_part, @function
cold_part:
	.cfi_startproc
	ud2
	.cfi_endproc
	.size cold_part, .-cold_part
	.section .note.GNU-stack,"",@progbits
"""

# A function whose FDE covers only its first bytes.
PARTLY_COVERED = r"""
	.text
	.globl main
	.type main, @function
main:
	.cfi_startproc
	xorl %eax, %eax
	.cfi_endproc
	nop
	nop
	ret
	.size main, .-main
	.section .note.GNU-stack,"",@progbits
"""

UNCOVERED_C = "int uncovered(int x) { return x * 3; }\nint main(void) { return uncovered(0); }\n"

SOUND_CXX = r"""
#include <stdexcept>
#include <string>
__attribute__((noinline)) int work(int x) {
  std::string s = std::to_string(x);
  if (__builtin_expect(x == 42, 0)) throw std::runtime_error("misuse " + s);
  return x + 1;
}
int main(int argc, char**) {
  try { return work(argc + 41); } catch (const std::exception&) { return 0; }
}
"""


class CheckUnwindTablesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def build(self, name, source, suffix, *flags):
        src = os.path.join(self.dir.name, name + suffix)
        with open(src, "w") as f:
            f.write(source)
        out = os.path.join(self.dir.name, name)
        compiler = [CC, "-x", "c++"] if suffix == ".cpp" else [CC]
        command = compiler + list(flags) + [src, "-o", out]
        if suffix == ".cpp":
            command += ["-lstdc++"]
        subprocess.run(command, check=True)
        return out

    def check(self, *paths):
        run = subprocess.run([sys.executable, CHECK] + list(paths), capture_output=True, text=True)
        return run.returncode, run.stdout + run.stderr

    def test_zero_length_fde_at_a_real_one_fails(self):
        # LLD keeps the empty FDE, and its search table keeps one entry per address.
        try:
            exe = self.build("shadowed", SHADOWED, ".s", "-fuse-ld=lld")
        except subprocess.CalledProcessError:
            self.skipTest("no LLD to link with")
        status, out = self.check(exe)
        self.assertEqual(status, 1, out)
        self.assertIn("zero-length FDE", out)
        self.assertIn("cold_part", out)

    def test_function_without_fde_fails(self):
        exe = self.build("uncovered", UNCOVERED_C, ".c", "-O1", "-fno-asynchronous-unwind-tables",
                         "-fno-unwind-tables")
        status, out = self.check(exe)
        self.assertEqual(status, 1, out)
        self.assertRegex(out, r"no FDE covers 0x[0-9a-f]+ .* in uncovered")

    def test_function_covered_in_part_fails_at_the_first_uncovered_byte(self):
        exe = self.build("partly", PARTLY_COVERED, ".s")
        status, out = self.check(exe)
        self.assertEqual(status, 1, out)
        # The FDE ends after the 2-byte xor: the gap starts 2 bytes into main.
        line = [l for l in out.splitlines() if "no FDE covers" in l][0]
        gap, start = [int(w.rstrip(","), 16) for w in line.split() if w.startswith("0x")][:2]
        self.assertEqual(gap - start, 2, out)

    def test_split_function_with_exceptions_passes(self):
        exe = self.build("sound", SOUND_CXX, ".cpp", "-O2")
        self.assertEqual(subprocess.run([exe]).returncode, 0)
        status, out = self.check(exe)
        self.assertEqual(status, 0, out)
        self.assertIn("sound", out)

    def test_a_file_that_is_no_elf_is_an_error(self):
        path = os.path.join(self.dir.name, "text")
        with open(path, "w") as f:
            f.write("#!/bin/sh\n")
        status, out = self.check(path)
        self.assertEqual(status, 2, out)


if __name__ == "__main__":
    CHECK, CC = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
