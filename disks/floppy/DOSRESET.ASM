; DOSRESET.COM: restarts the computer from DOS, as the last command of the
; rescue floppy's AUTOEXEC.BAT. A .COM program: 16-bit real mode, loaded at
; offset 100h of its segment.

        cpu     8086
        org     100h

start:
        mov     ah, 0Dh         ; DOS disk reset: write DOS's buffers out
        int     21h
        mov     ax, 4A10h       ; SMARTDRV: commit its write cache
        mov     bx, 0001h       ; (nothing answers when it is not loaded)
        int     2Fh

        cli
        mov     ax, 0040h       ; BIOS data area
        mov     ds, ax
        mov     word [0072h], 1234h     ; warm boot: skip the memory test
        jmp     0FFFFh:0000h    ; the processor's reset entry point
