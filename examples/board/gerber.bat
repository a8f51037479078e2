: ; echo "gerber.bat: CAM files ready for the fab" ; exit 0 #
@echo off
echo gerber.bat: CAM files ready for the fab
