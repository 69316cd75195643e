# SAMPLE part-number file from the Quenvol examples.
# It was not written by a real BIOS build; it makes the sample project
# folder complete enough to build a sample crisis diskette from.
#
# The BIOS images of this build are named after the part number:
#   devel<part>.rom   development image
#   test<part>.rom    test image

BIOS_FAMILY = QV
PARTNUM = Q7A
BOARD_REV = 2
ROM_SIZE = 64K

IMAGES = devel$(PARTNUM).rom test$(PARTNUM).rom flashabl.rom

all: $(IMAGES) platform.bin
