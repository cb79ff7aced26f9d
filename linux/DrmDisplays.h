// The displays DRM drives, as Plymouth's DRM renderer sees them (src/plugins/renderers/drm/plugin.c
// in Plymouth 24.004: get_output_info, ply_renderer_head_new): each connected output's name, kind,
// the mode Plymouth sets on it, its size and how its panel is mounted. Read through libdrm on the
// running machine; in the tests from a fixture tree laid out as sysfs shows DRM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/PlymouthRules.h"

struct DrmOutput {
  std::string Name;  // as the kernel names the connector: "eDP-1", "DP-2"
  bool Panel;        // a laptop's own panel: eDP, LVDS or DSI
  uint32_t Width;    // the mode Plymouth sets: one the user set, else the preferred one, else the
  uint32_t Height;   // active one, else the first
  uint32_t ModeCount;
  uint32_t WidthMm;  // 0 where DRM does not know
  uint32_t HeightMm;
  PlymouthRotation Rotation;  // how far to turn the picture for the panel, from "panel orientation"
  bool Simpledrm;             // the firmware's framebuffer, whose size Plymouth guesses at
  bool Framebuffer;           // no DRM output at all: the kernel's framebuffer device, fb0
};

// The connected outputs of the first DRM device that has any, in DRM's order. False where no DRM
// device could be opened at all.
bool ReadDrmOutputs(std::vector<DrmOutput> *Outputs);

// The same from Root/sys/class/drm/cardN-NAME/: "status" and "modes" as sysfs has them (the
// preferred mode first), and two files sysfs lacks but DRM's connector gives: "panel_orientation"
// (the property's value, "Normal", "Upside Down", "Left Side Up", "Right Side Up") and "mm_size"
// ("WIDTH HEIGHT"). Folders are taken in the order of their names.
void ReadDrmFixture(const std::string &Root, std::vector<DrmOutput> *Outputs);

// Where DRM drives no display, Plymouth draws through its frame-buffer renderer on /dev/fb0: the
// firmware's framebuffer as efifb or vesafb keeps it (a kernel without the machine's DRM driver, or
// booted with nomodeset). Its size from Root/sys/class/graphics/fb0/virtual_size ("WIDTH,HEIGHT").
// False where there is no fb0.
bool ReadFramebuffer(const std::string &Root, DrmOutput *Output);

// The output Plymouth takes its panel properties from (the last laptop panel, or where there is
// none the first output), and the display as Plymouth describes it; or the framebuffer, which
// gives none. False where none is connected.
bool PlymouthsDisplay(const std::vector<DrmOutput> &Outputs, DrmOutput *Output, PlymouthDisplay *Display);

// Plymouth's reading of the "panel orientation" property's value.
PlymouthRotation RotationOfOrientation(const std::string &Orientation);
