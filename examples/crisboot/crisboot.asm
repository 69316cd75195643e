; Sample boot sector for the Quenvol example kit (crisboot.bin). A sample: it starts no
; operating system.
;
; It does what a system's boot sector does, with the sample system file: it prints a banner
; on the screen, finds MINIDOS.SYS in the root directory, reads
; it through the BIOS disk service by following its FAT12 chain (cylinder, head and sector
; from the parameter block), and jumps to it at 0000:8000.
;
; The parameter block must stay equal to what the FAT12 formatter writes for the medium,
; because the build checks this sector against the formatted one before it replaces it and
; keeps only the formatted volume's serial number and label.
;
; Assemble: nasm -f bin -o crisboot.bin crisboot.asm            (1.44 MB diskette)
;           nasm -f bin -DMEDIUM_720K -o crisboot.bin crisboot.asm  (720 KB diskette)

        bits    16
        cpu     386
        org     0x7C00

SYSTEM_LOAD     equ     0x8000          ; MINIDOS.SYS is loaded and started here
SYSTEM_END      equ     0xF000          ; and may not reach this far (a read error)
EXIT_PORT       equ     0xF4            ; emulator's exit device; harmless elsewhere
EXIT_VALUE      equ     0x10

start:
        jmp     short boot_code         ; 3 bytes: jump over the parameters
        nop
oem_name        db      "QUENVOL "      ; 8 bytes
bytes_per_sec   dw      512
%ifdef MEDIUM_720K
sec_per_clus    db      2
reserved_secs   dw      1
fat_count       db      2
root_entries    dw      112             ; 7 sectors of 32-byte entries
total_secs16    dw      1440            ; 80 cylinders x 2 heads x 9 sectors
media           db      0xF9
secs_per_fat    dw      3
secs_per_track  dw      9
head_count      dw      2
%else
sec_per_clus    db      1
reserved_secs   dw      1               ; this sector
fat_count       db      2
root_entries    dw      224             ; 14 sectors of 32-byte entries
total_secs16    dw      2880            ; 80 cylinders x 2 heads x 18 sectors
media           db      0xF0
secs_per_fat    dw      9
secs_per_track  dw      18
head_count      dw      2
%endif
hidden_secs     dd      0
total_secs32    dd      0               ; only used when total_secs16 is 0
drive_number    db      0x00            ; first diskette drive; the BIOS's drive is kept here
reserved1       db      0
ext_signature   db      0x29            ; serial, label and type follow
volume_serial   dd      0x51564C31
volume_label    db      "NO NAME    "   ; 11 bytes; the formatter's label for none
fs_type         db      "FAT12   "      ; 8 bytes

%if ($ - start) != 0x3E
%error "the parameter block must end at offset 0x3E"
%endif

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
        mov     [drive_number], dl
        mov     si, banner
        call    print

        call    load_tables
        jc      disk_error
        mov     si, system_name
        call    find_entry
        mov     si, no_system
        jc      stop

        mov     ax, [di + 26]           ; first cluster
        mov     bx, SYSTEM_LOAD
.cluster:
        call    check_cluster
        jc      disk_error
        push    ax
        call    cluster_sector
        movzx   cx, byte [sec_per_clus]
        call    read_sectors
        pop     ax
        jc      disk_error
        cmp     bx, SYSTEM_END
        ja      disk_error              ; too large to start
        call    next_cluster
        cmp     ax, 0xFF8               ; the chain's end
        jb      .cluster

        mov     dl, [drive_number]
        jmp     0x0000:SYSTEM_LOAD

disk_error:
        mov     si, read_failed
stop:
        call    print
        mov     al, EXIT_VALUE          ; under an emulator with the exit device, the run ends
        out     EXIT_PORT, al
.halt:
        cli
        hlt
        jmp     .halt

%include "sample_io.inc"

system_name     db      "MINIDOS SYS"
banner          db      13, 10, "Quenvol sample boot sector", 13, 10, 0
no_system       db      "No MINIDOS.SYS", 13, 10, 0
read_failed     db      "MINIDOS.SYS unreadable", 13, 10, 0

%if ($ - start) > 510
%error "the boot code does not fit in the sector"
%endif
        times   510 - ($ - start) db 0
        dw      0xAA55
