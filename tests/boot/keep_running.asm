; Test fixture for the boot harness: a boot sector that writes one line on COM1 and then
; waits for ever, as a non-system diskette's boot code that waits for a key does. The
; harness must find the line and stop the emulator itself.

        bits    16
        org     0x7C00

COM1_DATA       equ     0x3F8
COM1_LSR        equ     0x3FD
LSR_THR_EMPTY   equ     0x20

start:
        cli
        xor     ax, ax
        mov     ds, ax
        mov     ss, ax
        mov     sp, 0x7C00
        cld
        mov     si, line
.next:
        lodsb
        test    al, al
        jz      .wait_for_ever
        mov     bl, al
        mov     dx, COM1_LSR
.busy:
        in      al, dx
        test    al, LSR_THR_EMPTY
        jz      .busy
        mov     dx, COM1_DATA
        mov     al, bl
        out     dx, al
        jmp     .next

.wait_for_ever:
        sti                             ; timer interrupts keep arriving, as with a key wait
        hlt
        jmp     .wait_for_ever

line:   db      "boot fixture: waiting for a key", 13, 10, 0

        times   510 - ($ - start) db 0
        dw      0xAA55
