/* The agent image, linked into the program that sends it. */
        .section .rodata.agent_image, "a"
        .balign 4
        .global agent_image_begin
        .global agent_image_end
agent_image_begin:
        .incbin "agent.bin"
agent_image_end:
        .section .note.GNU-stack, "", %progbits
