/* Small programs for the checks of check_pe.py: built with CASE 0 one keeps
   every rule (i486 instructions behind the prefixes the i486 knows); each
   other CASE adds one instruction that objdump shows but the i486 lacks. */
    .globl _start
_start:
    lock cmpxchg %ecx, (%edx)
    rep stosl
    bswap %eax
#if CASE == 1 /* data16 cs nopw, the assembler's long padding */
    .byte 0x66, 0x66, 0x2e, 0x0f, 0x1f, 0x84, 0, 0, 0, 0, 0
#elif CASE == 2
    lock cmpxchg8b (%eax)
#elif CASE == 3
    fisttpl (%eax)
#elif CASE == 4
    movnti %eax, (%ecx)
#elif CASE == 5
    clflush (%eax)
#elif CASE == 6
    rdrand %eax
#elif CASE == 7
    xgetbv
#endif
    push $0
    call _ExitProcess@4
