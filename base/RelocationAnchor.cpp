// An image reaches all its code and data relative to where it runs, so it may need no base
// relocation at all. But a loader may take an image without a single one for an image that only
// runs at its preferred address (0x140000000 on x64 and AArch64, often past the end of memory) and
// refuse it. This word holds an absolute address, which gives every image one relocation. Built
// into the images only; the link keeps it (/include).

extern "C" constinit const void *const ImageRelocationAnchor = &ImageRelocationAnchor;
