// What Plymouth does with the logo the kernel kept, taken from Plymouth 24.004's source (Debian's
// plymouth package): its bitmap loader (ply_image_load and ply_image_load_bmp, in
// src/libply-splash-graphics/ply-image.c), and where its two-step plugin, which the bgrt theme
// runs, puts the logo (view_set_bgrt_background, src/plugins/splash/two-step/plugin.c). Pure: the
// display and the logo are given.
#pragma once

#include "app/ReportRecord.h"
#include "app/VerdictTexts.h"
#include "firmware/Uefi.h"

// How far a display or a logo must be turned to stand upright (ply_pixel_buffer_rotation_t).
enum class PlymouthRotation : UINT8 { Upright, UpsideDown, Clockwise, CounterClockwise };

// The display as Plymouth's renderer describes it. Plymouth's DRM renderer gives panel properties
// for a laptop's own panel (eDP, LVDS, DSI) and, from Plymouth 24, for the first display of any
// other kind where there is no such panel; its frame-buffer renderer gives none.
struct PlymouthDisplay {
  INT32 Width;  // what Plymouth draws in: the mode's sides, swapped on a turned panel, over the scale
  INT32 Height;
  INT32 Scale;  // 1, or 2 on a HiDPI display
  bool HasPanel;
  INT32 PanelWidth;  // the panel's native mode, as DRM gives it
  INT32 PanelHeight;
  PlymouthRotation PanelRotation;
  INT32 PanelScale;
};

// Where Plymouth puts the logo's top left corner, in the display's own pixels. It draws the logo
// only where neither is negative, and none at all on an orientation mismatch.
struct PlymouthPlace {
  bool Mismatch;  // the BGRT says the logo is turned otherwise than the panel
  INT32 X;
  INT32 Y;
};

// Where Plymouth puts a logo of RawWidth x RawHeight pixels (its bitmap's width and its height
// without the sign) that the BGRT places at OffsetX, OffsetY, turned as Status says. Offsets are
// the BGRT's, read as Plymouth reads them through the kernel: as signed numbers.
PlymouthPlace PlacePlymouthLogo(const PlymouthDisplay &Display, UINT32 RawWidth, UINT32 RawHeight, INT32 OffsetX,
                                INT32 OffsetY, UINT8 Status);

// The scale Plymouth draws with on a display whose mode is Width x Height and whose physical size
// DRM gives as WidthMm x HeightMm (0 where unknown), each as the display stands upright; Guess on
// the firmware's framebuffer (simpledrm), whose size nobody knows (get_device_scale, in
// src/libply/ply-utils.c).
INT32 PlymouthDeviceScale(UINT32 Width, UINT32 Height, UINT32 WidthMm, UINT32 HeightMm, bool Guess);

// Why Plymouth's bitmap loader refuses the kernel's copy of the logo, of Logo.FileSize bytes;
// None when it loads it. Logo is whole.
VerdictText WhyPlymouthCannotLoad(const LogoBitmap &Logo);
