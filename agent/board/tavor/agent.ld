/* The agent image: linked for virtual address 0, where the MMU maps its DDR copy. The vector
   table is the first byte; zero-initialised variables live in SRAM from 0x5C009000, below the
   station's staging buffer at 0x5C010000. */
ENTRY(_start)
MEMORY {
  image (rwx) : ORIGIN = 0x00000000, LENGTH = 256K
  sram  (rw)  : ORIGIN = 0x5C009000, LENGTH = 0x7000
}
SECTIONS {
  .text : {
    KEEP(*(.vectors))
    *(.text .text.*)
    *(.rodata .rodata.*)
    . = ALIGN(4);
    *(.got .got.*)
    *(.data .data.*)
    . = ALIGN(4);
  } > image
  .init_array : { *(.init_array*) } > image
  __image_end = .;
  .bss (NOLOAD) : {
    __bss_start = .;
    *(.bss .bss.* COMMON)
    . = ALIGN(4);
    __bss_end = .;
  } > sram
  /DISCARD/ : { *(.ARM.exidx*) *(.ARM.extab*) *(.fini_array*) *(.comment) }
}
ASSERT(__bss_end <= 0x5C010000, "agent variables reach into the staging buffer")
ASSERT(SIZEOF(.init_array) == 0, "the agent has no start-up constructors: nothing would run them")
