; Sample boot sector for the Quenvol example kit (crisboot.bin).
;
; It shows that a MINIDOS diskette starts from our own sector 0: it prints a banner on
; the screen through the BIOS and on the first serial port, tells an emulator with an
; exit device to stop, and halts. It loads no system.
;
; The parameter block must stay equal to what the FAT12 formatter writes for a
; 1.44 MB diskette, because this sector replaces the formatted one and the volume
; must stay readable afterwards.
;
; Assemble: nasm -f bin -o crisboot.bin crisboot.asm

        bits    16
        org     0x7C00

COM1            equ     0x3F8           ; first serial port's base
UART_DATA       equ     COM1 + 0        ; transmit holding register; divisor low with DLAB
UART_IER        equ     COM1 + 1        ; interrupt enable; divisor high with DLAB
UART_FCR        equ     COM1 + 2        ; FIFO control
UART_LCR        equ     COM1 + 3        ; line control
UART_MCR        equ     COM1 + 4        ; modem control
UART_LSR        equ     COM1 + 5        ; line status
LSR_THR_EMPTY   equ     0x20
LCR_DLAB        equ     0x80
LCR_8N1         equ     0x03
BAUD_DIVISOR    equ     12              ; 115200 / 12 = 9600 baud
UART_WAIT_LOOPS equ     0xFFFF          ; never wait forever on a port that is not there

EXIT_PORT       equ     0xF4            ; emulator's exit device; harmless elsewhere
EXIT_VALUE      equ     0x10

; ---------------------------------------------------------------------------------------
; Boot sector header and parameters: 1.44 MB, 3.5-inch, FAT12.
; ---------------------------------------------------------------------------------------
start:
        jmp     short boot_code         ; 3 bytes: jump over the parameters
        nop
oem_name        db      "QUENVOL "      ; 8 bytes
bytes_per_sec   dw      512
sec_per_clus    db      1
reserved_secs   dw      1               ; this sector
fat_count       db      2
root_entries    dw      224             ; 14 sectors of 32-byte entries
total_secs16    dw      2880            ; 80 cylinders x 2 heads x 18 sectors
media           db      0xF0
secs_per_fat    dw      9
secs_per_track  dw      18
head_count      dw      2
hidden_secs     dd      0
total_secs32    dd      0               ; only used when total_secs16 is 0
drive_number    db      0x00            ; first diskette drive
reserved1       db      0
ext_signature   db      0x29            ; serial, label and type follow
volume_serial   dd      0x51564C31
volume_label    db      "NO NAME    "   ; 11 bytes; the formatter's label for none
fs_type         db      "FAT12   "      ; 8 bytes

%if ($ - start) != 0x3E
%error "the parameter block must end at offset 0x3E"
%endif

; ---------------------------------------------------------------------------------------
; Boot code
; ---------------------------------------------------------------------------------------
boot_code:
        cli
        xor     ax, ax
        mov     ds, ax
        mov     es, ax
        mov     ss, ax
        mov     sp, 0x7C00              ; stack grows down below this sector
        sti
        cld
        jmp     0x0000:.flat_cs         ; some BIOSes enter at 07C0:0000
.flat_cs:
        call    serial_init
        mov     si, banner
        call    print

        ; Under an emulator with the exit device this ends the run; elsewhere it does nothing.
        mov     al, EXIT_VALUE
        out     EXIT_PORT, al

.halt:
        cli
        hlt
        jmp     .halt

; Programs the UART directly, so that no BIOS serial service is needed.
serial_init:
        mov     dx, UART_IER
        xor     al, al
        out     dx, al                  ; no interrupts
        mov     dx, UART_LCR
        mov     al, LCR_DLAB
        out     dx, al
        mov     dx, UART_DATA
        mov     al, BAUD_DIVISOR
        out     dx, al
        mov     dx, UART_IER
        xor     al, al
        out     dx, al                  ; divisor high byte
        mov     dx, UART_LCR
        mov     al, LCR_8N1
        out     dx, al
        mov     dx, UART_FCR
        mov     al, 0x07                ; FIFO on, both FIFOs cleared
        out     dx, al
        mov     dx, UART_MCR
        mov     al, 0x03                ; DTR and RTS
        out     dx, al
        ret

; Prints the NUL-terminated text at DS:SI on the screen and on COM1.
print:
        lodsb
        test    al, al
        jz      .done
        call    put_char
        jmp     print
.done:
        ret

; Writes AL to the screen (BIOS teletype) and to COM1. Keeps SI.
put_char:
        push    ax
        mov     ah, 0x0E
        mov     bx, 0x0007              ; page 0, light grey
        int     0x10
        pop     ax

        mov     bl, al
        mov     dx, UART_LSR
        mov     cx, UART_WAIT_LOOPS
.wait:
        in      al, dx
        test    al, LSR_THR_EMPTY
        jnz     .send
        loop    .wait
.send:
        mov     dx, UART_DATA
        mov     al, bl
        out     dx, al
        ret

banner:
        db      13, 10
        db      "Quenvol sample crisis diskette", 13, 10
        db      "This is a sample boot sector from the Quenvol examples; it loads no system.", 13, 10
        db      0

; ---------------------------------------------------------------------------------------
        times   510 - ($ - start) db 0
        dw      0xAA55
