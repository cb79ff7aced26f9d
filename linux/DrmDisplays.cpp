#include "linux/DrmDisplays.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

constexpr int kMostCards = 16;

bool IsPanelType(uint32_t Type) {
  return Type == DRM_MODE_CONNECTOR_eDP || Type == DRM_MODE_CONNECTOR_LVDS || Type == DRM_MODE_CONNECTOR_DSI;
}

bool IsPanelName(const std::string &Name) {
  return Name.rfind("eDP-", 0) == 0 || Name.rfind("LVDS-", 0) == 0 || Name.rfind("DSI-", 0) == 0;
}

// The connector's properties Plymouth reads: its panel's orientation, whether it is one tile of a
// larger display (whose preferred mode is then not taken), and whether it is for desktops at all.
void ReadProperties(int Fd, drmModeConnector *Connector, DrmOutput *Output, bool *Tiled, bool *NonDesktop) {
  for (int Index = 0; Index < Connector->count_props; Index++) {
    drmModePropertyPtr Property = drmModeGetProperty(Fd, Connector->props[Index]);
    if (Property == nullptr) continue;
    uint64_t Value = Connector->prop_values[Index];
    if ((Property->flags & DRM_MODE_PROP_ENUM) && std::strcmp(Property->name, "panel orientation") == 0) {
      for (int Enum = 0; Enum < Property->count_enums; Enum++) {
        if (Property->enums[Enum].value == Value) Output->Rotation = RotationOfOrientation(Property->enums[Enum].name);
      }
    }
    if ((Property->flags & DRM_MODE_PROP_BLOB) && std::strcmp(Property->name, "TILE") == 0 && Value != 0) *Tiled = true;
    if (std::strcmp(Property->name, "non-desktop") == 0) *NonDesktop = Value != 0;
    drmModeFreeProperty(Property);
  }
}

// The mode the connector's encoder's controller shows now, if any.
const drmModeModeInfo *ActiveMode(int Fd, drmModeConnector *Connector, drmModeModeInfo *Active) {
  if (Connector->encoder_id == 0) return nullptr;
  drmModeEncoder *Encoder = drmModeGetEncoder(Fd, Connector->encoder_id);
  if (Encoder == nullptr) return nullptr;
  drmModeCrtc *Crtc = Encoder->crtc_id != 0 ? drmModeGetCrtc(Fd, Encoder->crtc_id) : nullptr;
  drmModeFreeEncoder(Encoder);
  if (Crtc == nullptr) return nullptr;
  bool Valid = Crtc->mode_valid != 0;
  *Active = Crtc->mode;
  drmModeFreeCrtc(Crtc);
  if (!Valid) return nullptr;
  for (int Index = 0; Index < Connector->count_modes; Index++) {
    const drmModeModeInfo &Mode = Connector->modes[Index];
    if (Mode.hdisplay == Active->hdisplay && Mode.vdisplay == Active->vdisplay) return &Connector->modes[Index];
  }
  return nullptr;
}

bool ReadCard(int Fd, std::vector<DrmOutput> *Outputs) {
  drmModeRes *Resources = drmModeGetResources(Fd);
  if (Resources == nullptr) return false;
  drmVersionPtr Version = drmGetVersion(Fd);
  bool Simpledrm = Version != nullptr && Version->name != nullptr && std::strcmp(Version->name, "simpledrm") == 0;
  if (Version != nullptr) drmFreeVersion(Version);
  for (int Index = 0; Index < Resources->count_connectors; Index++) {
    drmModeConnector *Connector = drmModeGetConnector(Fd, Resources->connectors[Index]);
    if (Connector == nullptr) continue;
    if (Connector->connection == DRM_MODE_CONNECTED && Connector->count_modes > 0) {
      DrmOutput Output{};
      const char *TypeName = drmModeGetConnectorTypeName(Connector->connector_type);
      Output.Name = std::string(TypeName != nullptr ? TypeName : "Unknown") + "-" +
                    std::to_string(Connector->connector_type_id);
      Output.Panel = IsPanelType(Connector->connector_type);
      Output.Simpledrm = Simpledrm;
      bool Tiled = false;
      bool NonDesktop = false;
      ReadProperties(Fd, Connector, &Output, &Tiled, &NonDesktop);
      const drmModeModeInfo *Mode = nullptr;
      for (int Pass = 0; Pass < 2 && Mode == nullptr && !Tiled; Pass++) {
        uint32_t Wanted = Pass == 0 ? DRM_MODE_TYPE_USERDEF : DRM_MODE_TYPE_PREFERRED;
        for (int M = 0; M < Connector->count_modes && Mode == nullptr; M++) {
          if (Connector->modes[M].type & Wanted) Mode = &Connector->modes[M];
        }
      }
      drmModeModeInfo Active;
      if (Mode == nullptr) Mode = ActiveMode(Fd, Connector, &Active);
      if (Mode == nullptr) Mode = &Connector->modes[0];
      Output.Width = Mode->hdisplay;
      Output.Height = Mode->vdisplay;
      Output.ModeCount = (uint32_t)Connector->count_modes;
      Output.WidthMm = Connector->mmWidth;
      Output.HeightMm = Connector->mmHeight;
      if (!NonDesktop) Outputs->push_back(Output);
    }
    drmModeFreeConnector(Connector);
  }
  drmModeFreeResources(Resources);
  return true;
}

std::string FirstLine(const std::string &Path) {
  std::ifstream File(Path);
  std::string Line;
  std::getline(File, Line);
  return Line;
}

}  // namespace

PlymouthRotation RotationOfOrientation(const std::string &Orientation) {
  // A panel mounted with its left side up is turned counter-clockwise to stand upright, one with its
  // right side up clockwise (connector_orientation_prop_to_rotation).
  if (Orientation == "Upside Down") return PlymouthRotation::UpsideDown;
  if (Orientation == "Left Side Up") return PlymouthRotation::CounterClockwise;
  if (Orientation == "Right Side Up") return PlymouthRotation::Clockwise;
  return PlymouthRotation::Upright;
}

bool ReadDrmOutputs(std::vector<DrmOutput> *Outputs) {
  Outputs->clear();
  bool Opened = false;
  for (int Card = 0; Card < kMostCards && Outputs->empty(); Card++) {
    std::string Path = "/dev/dri/card" + std::to_string(Card);
    int Fd = open(Path.c_str(), O_RDWR | O_CLOEXEC);
    if (Fd < 0) continue;
    Opened = true;
    ReadCard(Fd, Outputs);
    close(Fd);
  }
  return Opened;
}

void ReadDrmFixture(const std::string &Root, std::vector<DrmOutput> *Outputs) {
  Outputs->clear();
  std::string Class = Root + "/sys/class/drm";
  std::vector<std::string> Names;
  if (DIR *Folder = opendir(Class.c_str())) {
    while (dirent *Entry = readdir(Folder)) {
      std::string Name = Entry->d_name;
      if (Name.rfind("card", 0) == 0 && Name.find('-') != std::string::npos) Names.push_back(Name);
    }
    closedir(Folder);
  }
  std::sort(Names.begin(), Names.end());
  std::string Card;
  for (const std::string &Name : Names) {
    std::string Folder = Class + "/" + Name;
    std::string ThisCard = Name.substr(0, Name.find('-'));
    if (!Card.empty() && ThisCard != Card) break;  // the first card with a connected output only
    if (FirstLine(Folder + "/status") != "connected") continue;
    DrmOutput Output{};
    Output.Name = Name.substr(Name.find('-') + 1);
    Output.Panel = IsPanelName(Output.Name);
    std::ifstream Modes(Folder + "/modes");
    for (std::string Line; std::getline(Modes, Line);) {
      unsigned Width = 0, Height = 0;
      if (std::sscanf(Line.c_str(), "%ux%u", &Width, &Height) != 2) continue;
      if (Output.ModeCount++ == 0) {
        Output.Width = Width;
        Output.Height = Height;
      }
    }
    if (Output.ModeCount == 0) continue;
    Output.Rotation = RotationOfOrientation(FirstLine(Folder + "/panel_orientation"));
    std::sscanf(FirstLine(Folder + "/mm_size").c_str(), "%u %u", &Output.WidthMm, &Output.HeightMm);
    Outputs->push_back(Output);
    Card = ThisCard;
  }
}

bool ReadFramebuffer(const std::string &Root, DrmOutput *Output) {
  unsigned Width = 0, Height = 0;
  if (std::sscanf(FirstLine(Root + "/sys/class/graphics/fb0/virtual_size").c_str(), "%u,%u", &Width, &Height) != 2 ||
      Width == 0 || Height == 0) {
    return false;
  }
  *Output = DrmOutput{};
  Output->Name = "fb0";
  Output->Width = Width;
  Output->Height = Height;
  Output->ModeCount = 1;
  Output->Framebuffer = true;
  return true;
}

bool PlymouthsDisplay(const std::vector<DrmOutput> &Outputs, DrmOutput *Output, PlymouthDisplay *Display) {
  if (Outputs.empty()) return false;
  // The frame-buffer renderer gives no panel properties (ply_renderer_head in its plugin.c).
  if (Outputs.front().Framebuffer) {
    *Output = Outputs.front();
    *Display = PlymouthDisplay{(INT32)Output->Width, (INT32)Output->Height, 1, false, 0, 0, PlymouthRotation::Upright, 1};
    return true;
  }
  // The first output gives the panel properties until a laptop's panel does (ply_renderer_head_new).
  *Output = Outputs.front();
  for (const DrmOutput &Each : Outputs) {
    if (Each.Panel) *Output = Each;
  }
  const DrmOutput &O = *Output;
  bool Quarter = O.Rotation == PlymouthRotation::Clockwise || O.Rotation == PlymouthRotation::CounterClockwise;
  // The physical sides are given turned as the panel stands, the mode's not (get_output_info).
  INT32 Scale = PlymouthDeviceScale(O.Width, O.Height, Quarter ? O.HeightMm : O.WidthMm,
                                    Quarter ? O.WidthMm : O.HeightMm, O.Simpledrm);
  INT32 Width = (INT32)(Quarter ? O.Height : O.Width);
  INT32 Height = (INT32)(Quarter ? O.Width : O.Height);
  *Display = PlymouthDisplay{Width / Scale, Height / Scale, Scale, true, (INT32)O.Width, (INT32)O.Height,
                             O.Rotation, Scale};
  return true;
}
