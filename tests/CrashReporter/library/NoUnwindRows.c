/* A shared object with a routine that has no unwind rows, as the hand-written routines of media
   libraries: written in assembly without CFI directives, it saves three registers, reserves a
   work area on the stack and fills it, keeps a pointer into that area in rbp (a plain register
   here, no frame pointer), and then writes to the address it was given. The C function beside it
   has its rows, so that the library has a search table that only lacks the routine. */

__asm__(
    ".text\n"
    ".globl crs_no_rows_fault\n"
    ".type crs_no_rows_fault, @function\n"
    ".p2align 4\n"
    "crs_no_rows_fault:\n"
    "  push %rbx\n"
    "  push %rbp\n"
    "  push %r12\n"
    "  sub $48, %rsp\n"
    "  mov %rdi, %r12\n"
    "  lea 16(%rsp), %rbp\n"
    "  movq $0x7000, 0(%rsp)\n"
    "  movq $0x8000, 8(%rsp)\n"
    "  movq $0x9000, 16(%rsp)\n"
    "  movq $0xa000, 24(%rsp)\n"
    "  movq $0xb000, 32(%rsp)\n"
    "  movq $0xc000, 40(%rsp)\n"
    "  movl $1, (%r12)\n"
    "  add $48, %rsp\n"
    "  pop %r12\n"
    "  pop %rbp\n"
    "  pop %rbx\n"
    "  ret\n"
    ".size crs_no_rows_fault, .-crs_no_rows_fault\n");

int crs_no_rows_library_value(void) {
  return 7;
}
