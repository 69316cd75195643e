; Sample MINIDOS.SYS for the Quenvol example kit. A sample: it is no operating system and
; flashes nothing.
;
; The sample boot sector loads it at 0000:8000 and starts it. It finds BIOS.ROM (or else
; BIOS.QVX) in the root directory, reads it through the BIOS disk service by following its
; FAT12 chain, as a flash utility started from the diskette would read it, and prints its size
; and CRC-32 on the screen and on the first serial port, one line:
;
;   BIOS.ROM: 65536 bytes, CRC-32 1A2B3C4D
;
; then "End of the sample." and stops the machine (and an emulator with an exit device).
;
; Assemble: nasm -f bin -o minidos.sys minidos.asm

        bits    16
        cpu     386
        org     0x8000

%define WITH_SERIAL
SECTOR_BUF      equ     0x7E00          ; one sector of the image at a time
EXIT_PORT       equ     0xF4
EXIT_VALUE      equ     0x10

        jmp     main
        db      "SAMPLE MINIDOS.SYS from the Quenvol examples - not an operating system", 0

main:
        cli
        xor     ax, ax
        mov     ds, ax
        mov     es, ax
        mov     ss, ax
        mov     sp, 0x7C00
        sti
        cld
        call    serial_init
        mov     si, banner
        call    print

        call    load_tables
        jc      read_error
        mov     si, rom_name
        call    find_entry
        jnc     .found
        mov     si, qvx_name
        call    find_entry
        jnc     .found
        mov     si, no_image
        jmp     stop
.found:
        mov     [name_at], si           ; the name that matched
        mov     eax, [di + 28]
        mov     [file_size], eax
        mov     [left], eax
        mov     ax, [di + 26]           ; first cluster
        mov     dword [crc], 0xFFFFFFFF ; kept in memory: BIOS calls need not keep the
                                        ; upper halves of the registers
.cluster:
        cmp     dword [left], 0
        je      .read
        call    check_cluster
        jc      chain_error
        push    ax
        call    cluster_sector
        movzx   cx, byte [0x7C0D]       ; sectors a cluster
.sector:
        mov     bx, SECTOR_BUF
        call    read_sector
        jc      read_error
        call    crc_sector
        inc     ax
        cmp     dword [left], 0
        je      .cluster_done
        loop    .sector
.cluster_done:
        pop     ax
        call    next_cluster
        jmp     .cluster
.read:
        not     dword [crc]

        mov     si, [name_at]
        call    print_name
        mov     si, size_text
        call    print
        mov     eax, [file_size]
        call    print_decimal
        mov     si, crc_text
        call    print
        mov     eax, [crc]
        call    print_hex
        mov     si, end_text
        jmp     stop

chain_error:
        mov     si, bad_chain
        jmp     stop
read_error:
        mov     si, read_failed
stop:
        call    print
        mov     al, EXIT_VALUE
        out     EXIT_PORT, al
.halt:
        cli
        hlt
        jmp     .halt

; Adds the sector at SECTOR_BUF, or the part of it the file still holds, to the CRC.
crc_sector:
        pushad
        mov     ecx, [left]
        cmp     ecx, 512
        jbe     .count
        mov     ecx, 512
.count:
        sub     [left], ecx
        mov     si, SECTOR_BUF
        mov     eax, [crc]
.byte:
        xor     al, [si]
        inc     si
        mov     bl, 8
.bit:
        shr     eax, 1
        jnc     .no_xor
        xor     eax, 0xEDB88320
.no_xor:
        dec     bl
        jnz     .bit
        loop    .byte
        mov     [crc], eax
        popad
        ret

; Prints the 8.3 name of the 11 bytes at SI, as "BIOS.ROM".
print_name:
        mov     cx, 11
.next:
        lodsb
        cmp     cx, 3
        jne     .char
        push    ax
        push    cx
        mov     al, '.'
        call    put_char
        pop     cx
        pop     ax
.char:
        cmp     al, ' '
        je      .skip
        push    cx
        call    put_char
        pop     cx
.skip:
        loop    .next
        ret

; Prints EAX in decimal.
print_decimal:
        mov     ebx, 10
        xor     cx, cx
.divide:
        xor     edx, edx
        div     ebx
        push    dx
        inc     cx
        test    eax, eax
        jnz     .divide
.digit:
        pop     ax
        add     al, '0'
        push    cx
        call    put_char
        pop     cx
        loop    .digit
        ret

; Prints EAX as eight hexadecimal digits, capitals.
print_hex:
        mov     cx, 8
.digit:
        rol     eax, 4
        push    eax
        and     al, 0x0F
        add     al, '0'
        cmp     al, '9'
        jbe     .put
        add     al, 'A' - '0' - 10
.put:
        push    cx
        call    put_char
        pop     cx
        pop     eax
        loop    .digit
        ret

%include "sample_io.inc"

banner          db      "Quenvol sample crisis diskette", 13, 10
                db      "Sample MINIDOS.SYS: reading the BIOS image through the BIOS", 13, 10, 0
rom_name        db      "BIOS    ROM"
qvx_name        db      "BIOS    QVX"
size_text       db      ": ", 0
crc_text        db      " bytes, CRC-32 ", 0
end_text        db      13, 10, "End of the sample.", 13, 10, 0
no_image        db      "Neither BIOS.ROM nor BIOS.QVX is in the root directory", 13, 10
                db      "End of the sample.", 13, 10, 0
bad_chain       db      "The BIOS image's cluster chain is broken", 13, 10
                db      "End of the sample.", 13, 10, 0
read_failed     db      "Disk read error", 13, 10, "End of the sample.", 13, 10, 0

name_at         dw      0
file_size       dd      0
left            dd      0
crc             dd      0
