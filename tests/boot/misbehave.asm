; Test fixture for the boot check: boot sectors that never start a system. Assembled once for
; each way, chosen with -D:
;   HANG    writes nothing and stops, as a boot sector whose loader hangs
;   RESET   jumps to the processor's reset address, as a boot sector that resets the machine
;   REBOOT  asks the firmware to boot again, for ever

        bits    16
        org     0x7C00

start:
%ifdef HANG
        cli
.stop:
        hlt
        jmp     .stop
%elifdef RESET
        jmp     0xFFFF:0x0000
%elifdef REBOOT
        int     0x19
        jmp     start
%else
%error "define HANG, RESET or REBOOT"
%endif

        times   510 - ($ - start) db 0
        dw      0xAA55
