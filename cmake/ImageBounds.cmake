# The most bytes an image may have, which tools/check-image.sh holds each image to as it is built and
# again among the tests: a Quillon image 32 KiB; a stick program, which has more to say to the person
# at the screen, 40 KiB.
set(QUILLON_IMAGE_MOST_BYTES 32768)
set(QUILLON_STICK_MOST_BYTES 40960)
