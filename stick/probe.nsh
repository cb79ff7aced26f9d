@echo -off
# Quillon's stick: tells whether this firmware can run the stick's shell for one architecture.
# startup.nsh runs it once for each: "probe.nsh X64". It starts that architecture's shell, which
# exits at once; %lasterror% is then 0x0 where the firmware runs it and an error (Unsupported)
# where it does not. It runs as a script of its own because a refused image aborts the script that
# started it, and startup.nsh must go on.
\EFI\BOOT\BOOT%1.EFI -nostartup -nomap -noversion -exit
