@echo -off
# Quillon's stick script.
#
# Started by: the UEFI Shell on this stick (\EFI\BOOT\BOOT<arch>.EFI, which the firmware's boot
# menu starts), as this file sits beside it. A startup.nsh anywhere else never runs in its place.
# Leaves behind: on this stick, \BIOSLogo.bmp (this machine's boot logo) and \Quillon-report.txt
# (Quillon's report); an earlier run's logo and report are replaced. On every other volume nothing
# but what Quillon itself does: it saves the logo on the first file-system volume the firmware
# lists, which may be an internal disk. Ends at the shell prompt.
#
# Variables are set with -v (volatile): a plain set would write them to the machine's NVRAM. The
# output of cp, comp and probe.nsh goes to scratch files in \EFI\Quillon, deleted at the end:
# only what the person needs is on the screen.

echo " "
echo "Quillon: getting this machine's boot logo out of the firmware."

# 1. Work on the stick itself, the volume the shell started from, and run nothing from elsewhere.
%homefilesystem%
cd \
if not exist \EFI\Quillon\probe.nsh then
  echo "Quillon: cannot find the stick's own files on %homefilesystem%; nothing was done."
  goto End
endif
set -v QuillonStick %homefilesystem%

# 2. The stick must take files: a read-only or full stick fails here, before anything is run. A
#    folder made, not a redirection: a redirection the volume refuses ends the whole script.
mkdir \EFI\Quillon\write.tmp
if not exist \EFI\Quillon\write.tmp then
  echo "Quillon: this stick cannot be written (read-only, or full). Nothing was done."
  echo "Quillon: check the stick's write-protect switch, or free some room on it, and try again."
  goto End
endif
rm -q \EFI\Quillon\write.tmp

# 3. The image this firmware can run. Starting an image of another architecture would abort this
#    script, so probe.nsh tries each architecture's shell in a script of its own.
set -v QuillonArch none
for %a in X64 IA32 AA64
  if "%QuillonArch%" == "none" then
    \EFI\Quillon\probe.nsh %a > \EFI\Quillon\probe.tmp
    if %lasterror% == 0 then
      set -v QuillonArch %a
    endif
  endif
endfor
rm -q \EFI\Quillon\probe.tmp
if "%QuillonArch%" == "none" then
  echo "Quillon: this firmware runs none of the stick's images (x64, IA32, AArch64). Nothing was done."
  goto End
endif
if not exist \EFI\Quillon\Quillon%QuillonArch%.efi then
  echo "Quillon: the stick has no Quillon image for %QuillonArch% firmware. Nothing was done."
  goto End
endif

# 4. An earlier run's logo steps aside, so that a logo in the stick's root afterwards is this
#    run's; it comes back if this run saves none. Logos on other volumes are copied to the stick,
#    so that afterwards the one Quillon wrote can be told from one that was there before.
if exist \BIOSLogo.bmp then
  cp -q \BIOSLogo.bmp \EFI\Quillon\previous.bmp > \EFI\Quillon\copy.tmp
  rm -q \BIOSLogo.bmp
endif
for %v in 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15
  if exist FS%v:\BIOSLogo.bmp then
    cp -q FS%v:\BIOSLogo.bmp \EFI\Quillon\before%v.bmp > \EFI\Quillon\copy.tmp
  endif
endfor

# 5. Quillon, its report kept on the stick as 8-bit text and shown on the screen.
echo "Quillon: running Quillon for %QuillonArch% firmware."
echo " "
\EFI\Quillon\Quillon%QuillonArch%.efi >a \Quillon-report.txt
set -v QuillonStatus %lasterror%
type \Quillon-report.txt
echo " "
echo "Quillon: exit status %QuillonStatus% (0 is success); the report is Quillon-report.txt on this stick."

# 6. Where the logo went. In the stick's root: Quillon saved it there. Otherwise on the volume
#    whose BIOSLogo.bmp is new or changed: it is copied onto the stick.
set -v QuillonSaved none
if exist \BIOSLogo.bmp then
  set -v QuillonSaved %QuillonStick%
endif
for %v in 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15
  if "%QuillonSaved%" == "none" then
    if exist FS%v:\BIOSLogo.bmp then
      if not exist \EFI\Quillon\before%v.bmp then
        set -v QuillonSaved FS%v:
      else
        comp -n 1 FS%v:\BIOSLogo.bmp \EFI\Quillon\before%v.bmp > \EFI\Quillon\comp.tmp
        if not %lasterror% == 0 then
          set -v QuillonSaved FS%v:
        endif
      endif
    endif
  endif
endfor
if not "%QuillonSaved%" == "none" then
  if not "%QuillonSaved%" == "%QuillonStick%" then
    # A copy that does not compare equal (a full stick) is not left as the logo.
    cp -q %QuillonSaved%\BIOSLogo.bmp \BIOSLogo.bmp > \EFI\Quillon\copy.tmp
    comp -n 1 %QuillonSaved%\BIOSLogo.bmp \BIOSLogo.bmp > \EFI\Quillon\comp.tmp
    if not %lasterror% == 0 then
      if exist \BIOSLogo.bmp then
        rm -q \BIOSLogo.bmp
      endif
      echo "Quillon: the firmware lists another volume first, so Quillon saved the logo there:"
      echo "  %QuillonSaved%\BIOSLogo.bmp (left as it is), but it could not be copied onto this stick:"
      echo "  the stick is full. Free some room on it and run it again."
      set -v QuillonSaved uncopied
    else
      echo "Quillon: the firmware lists another volume first, so Quillon saved the logo there:"
      echo "  %QuillonSaved%\BIOSLogo.bmp (left as it is), and a copy on this stick:"
    endif
  else
    echo "Quillon: the logo is saved on this stick:"
  endif
endif
# Run again on the same machine, Quillon writes the bytes another volume already holds: that logo
# equals the one this stick kept from the earlier run, and it stays.
if "%QuillonSaved%" == "none" then
  if exist \EFI\Quillon\previous.bmp then
    for %v in 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15
      if "%QuillonSaved%" == "none" then
        if exist FS%v:\BIOSLogo.bmp then
          comp -n 1 FS%v:\BIOSLogo.bmp \EFI\Quillon\previous.bmp > \EFI\Quillon\comp.tmp
          if %lasterror% == 0 then
            set -v QuillonSaved FS%v:
          endif
        endif
      endif
    endfor
    if not "%QuillonSaved%" == "none" then
      cp -q \EFI\Quillon\previous.bmp \BIOSLogo.bmp > \EFI\Quillon\copy.tmp
      echo "Quillon: %QuillonSaved%\BIOSLogo.bmp is the same logo this stick holds from an earlier run:"
    endif
  endif
endif
if "%QuillonSaved%" == "none" then
  echo "Quillon: no logo was saved in this run: the firmware publishes none, or Quillon refused or"
  echo "  could not save it (the report above says which)."
  set -v QuillonSaved uncopied
endif
if not "%QuillonSaved%" == "uncopied" then
  echo "  %QuillonStick%\BIOSLogo.bmp"
  echo "Quillon: open the stick on any computer to find BIOSLogo.bmp and Quillon-report.txt."
  if exist \EFI\Quillon\previous.bmp then
    rm -q \EFI\Quillon\previous.bmp
  endif
else
  if exist \EFI\Quillon\previous.bmp then
    cp -q \EFI\Quillon\previous.bmp \BIOSLogo.bmp > \EFI\Quillon\copy.tmp
    rm -q \EFI\Quillon\previous.bmp
    echo "  The BIOSLogo.bmp on this stick is still the one from an earlier run, maybe of another machine."
  endif
endif
for %v in 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15
  if exist \EFI\Quillon\before%v.bmp then
    rm -q \EFI\Quillon\before%v.bmp
  endif
endfor
for %t in comp copy
  if exist \EFI\Quillon\%t.tmp then
    rm -q \EFI\Quillon\%t.tmp
  endif
endfor

:End
echo " "
echo "Quillon: done. Remove the stick, then type reset and press Enter to restart the machine."
