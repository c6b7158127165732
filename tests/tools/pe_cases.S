/* For check_pe.py: CASE 0 keeps every rule, with i486 instructions behind
   the prefixes it knows; 1 to 7 each add one that the i486 lacks. */
    .globl _start
_start:
    lock cmpxchg %ecx, (%edx); rep stosl; bswap %eax
    .if CASE == 1; .byte 0x66, 0x66, 0x2e, 0x0f, 0x1f, 0x84, 0, 0, 0, 0, 0; .endif /* data16 cs nopw */
    .if CASE == 2; lock cmpxchg8b (%eax); .endif
    .if CASE == 3; fisttpl (%eax); .endif
    .if CASE == 4; movnti %eax, (%ecx); .endif
    .if CASE == 5; clflush (%eax); .endif
    .if CASE == 6; rdrand %eax; .endif
    .if CASE == 7; xgetbv; .endif
    push $0
    call _ExitProcess@4
