#include "app/App.h"
#include "firmware/Guids.h"

constinit EFI_SYSTEM_TABLE *gSystemTable = nullptr;
constinit EFI_BOOT_SERVICES *gBootServices = nullptr;

namespace {

constexpr EFI_STATUS kNotStartedFromShell = ~(EFI_STATUS)0;

bool ImageHasProtocol(EFI_HANDLE ImageHandle, const EFI_GUID *Protocol) {
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBootServices->OpenProtocol(ImageHandle, Protocol, &Interface, ImageHandle, nullptr,
                                                  EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  return !EFI_ERROR(Status);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI AppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gSystemTable = SystemTable;
  gBootServices = SystemTable->BootServices;

  // A shell installs its parameters protocol on every image it starts; older shells the
  // shell-interface protocol instead.
  if (ImageHasProtocol(ImageHandle, &EFI_SHELL_PARAMETERS_PROTOCOL_GUID) ||
      ImageHasProtocol(ImageHandle, &EFI_SHELL_INTERFACE_GUID)) {
    ReportRecord Report;
    return ReportBootLogo(nullptr, &Report);
  }
  return kNotStartedFromShell;
}
