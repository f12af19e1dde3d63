/* Start-up of the agent image. The boot ROM loads the raw image into SRAM and jumps to its
 * first byte, the exception vector table; the image's own length is the word after it.
 * Until the MMU is on, everything here is position-independent (branches and adr only), so the
 * image runs wherever it was loaded. The C++ above is linked for virtual address 0, where the
 * MMU puts the DDR copy.
 *   1. interrupts masked, caches and MMU off, IRQ and supervisor stacks, flags and load address kept
 *   2. not yet in DDR: DDR controller up, image copied to 0x80000000 and compared, 5 tries
 *   3. translation table from the region list, MMU and caches on, on at the same code in DDR
 *   4. zero-initialised variables cleared, the main routine entered with the boot ROM's flags */
        .syntax unified
        .arm
        .section .vectors, "ax"
        .global _start
_start:
        b       reset
        b       stop_for_good           /* undefined instruction */
        b       stop_for_good           /* software interrupt */
        b       stop_for_good           /* prefetch abort */
        b       stop_for_good           /* data abort */
        b       stop_for_good           /* reserved */
        b       stop_for_good           /* IRQ: the USB controller's handler belongs to its driver */
        b       stop_for_good           /* FIQ */
        .global agent_image_length
agent_image_length:
        .word   __image_end - _start    /* the whole image, as the boot ROM must have received it */

        .equ    ICMR,  0x40D00004       /* interrupt controller mask registers */
        .equ    ICMR2, 0x40D000A0
        .equ    IRQ_STACK_TOP, 0x5C007FFC
        .equ    SVC_STACK_TOP, 0x5C005FFC  /* 8 KiB below the IRQ stack */
        .equ    BOOT_FLAGS_WORD, 0x5C008FF8
        .equ    LOAD_ADDRESS_WORD, 0x5C008FFC
        .equ    DDR_COPY, 0x80000000
        .equ    COPY_TRIES, 5

reset:
        mov     r4, r0                  /* the boot ROM's flags word */
        /* 1. */
        msr     cpsr_c, #0xD3           /* supervisor mode, IRQ and FIQ off */
        mov     r1, #0
        ldr     r0, =ICMR
        str     r1, [r0]
        ldr     r0, =ICMR2
        str     r1, [r0]
        mrc     p15, 0, r1, c1, c0, 0
        bic     r1, r1, #0x1000         /* I cache */
        bic     r1, r1, #0x0005         /* D cache, MMU */
        mcr     p15, 0, r1, c1, c0, 0
        mov     r1, #0
        mcr     p15, 0, r1, c7, c7, 0   /* invalidate caches */
        mcr     p15, 0, r1, c8, c7, 0   /* invalidate TLBs */
        msr     cpsr_c, #0xD2           /* IRQ mode */
        ldr     sp, =IRQ_STACK_TOP
        msr     cpsr_c, #0xD3
        ldr     sp, =SVC_STACK_TOP
        adr     r5, _start              /* where the boot ROM put us */
        ldr     r0, =BOOT_FLAGS_WORD
        str     r4, [r0]
        ldr     r0, =LOAD_ADDRESS_WORD
        str     r5, [r0]

        /* 2. */
        tst     r5, #0x80000000
        bne     build_table
        bl      tavor_ddr_init
        ldr     r6, agent_image_length
        mov     r7, #COPY_TRIES
copy_again:
        mov     r0, r5
        ldr     r1, =DDR_COPY
        mov     r2, r6
1:      ldr     r3, [r0], #4
        str     r3, [r1], #4
        subs    r2, r2, #4
        bgt     1b
        mov     r0, r5
        ldr     r1, =DDR_COPY
        mov     r2, r6
2:      ldr     r3, [r0], #4
        ldr     r8, [r1], #4
        cmp     r3, r8
        bne     copy_failed
        subs    r2, r2, #4
        bgt     2b
        b       build_table
copy_failed:
        subs    r7, r7, #1
        bne     copy_again
        b       stop_for_good

        /* 3. Runs while still at the load address in SRAM, which the table maps onto itself. */
build_table:
        bl      tavor_build_translation_table   /* position-independent C++, returns the table */
        mcr     p15, 0, r0, c2, c0, 0           /* translation table base */
        mvn     r1, #0
        mcr     p15, 0, r1, c3, c0, 0           /* domains: manager */
        mrc     p15, 0, r1, c1, c0, 0
        orr     r1, r1, #0x1000                 /* I cache */
        orr     r1, r1, #0x0005                 /* D cache, MMU */
        mcr     p15, 0, r1, c1, c0, 0
        mrc     p15, 0, r1, c2, c0, 0           /* wait for the change to take effect */
        mov     r1, r1
        sub     pc, pc, #4
        ldr     pc, =in_ddr                     /* the same code, in the copy at virtual 0 */

in_ddr:
        /* 4. */
        ldr     r0, =__bss_start
        ldr     r1, =__bss_end
        mov     r2, #0
3:      cmp     r0, r1
        strlo   r2, [r0], #4
        blo     3b
        ldr     r0, =BOOT_FLAGS_WORD
        ldr     r0, [r0]
        bl      agent_main
        .global stop_for_good
stop_for_good:
        b       stop_for_good
        .ltorg
