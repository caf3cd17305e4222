#include "app/SequenceSteps.h"

namespace zuro {

void FailNotice(UpdateSession& s, const std::string& text, const char* caption) {
  s.Front().ShowNotice(text, caption, NoticeKind::kError);
}

std::string WorkingErrorText(UpdateSession& s, Result code) {
  return "The " + s.Caption() + " encountered an error working with your " + s.Name() +
         ".\n\nPlease try again.\n\n[Error " + std::to_string(code) + "]";
}

Result ReprogramDevice(UpdateSession& s, const DeviceKindEntry& entry, std::uint32_t settleMs) {
  UpdateFrontEnd& front = s.Front();
  ZuroBSLHost& host = s.Host();

  front.ShowStatus("Erasing firmware memory...");
  Result r = host.BSLEraseINFO(entry.infoStart, entry.infoSegments, entry.infoSegmentSize,
                               entry.extendedAddressing);
  if (r < 0) {
    FailNotice(s, WorkingErrorText(s, r), "INFO Memory Erase Error");
    return r;
  }
  r = host.BSLEraseFlash(entry.flashStart, entry.flashEnd, entry.extendedAddressing);
  if (r < 0) {
    FailNotice(s, WorkingErrorText(s, r), "Firmware Erase Error");
    return r;
  }

  s.writeProgress = kUploadProgressStart;
  front.SetProgress(static_cast<int>(kUploadProgressStart));
  front.ShowStatus("Uploading new firmware code...");
  if (settleMs != 0) {
    s.SequenceDelay(settleMs);
  }
  r = host.BSLSendFirmware(entry.extendedAddressing);
  if (r < 0) {
    FailNotice(s, WorkingErrorText(s, r), kUploadErrorCaption);
    return r;
  }

  front.ShowStatus("Restarting the " + s.Name() + ", please wait...");
  r = host.BSLSendVectors();
  if (r < 0) {
    FailNotice(s, WorkingErrorText(s, r), kUploadErrorCaption);
    return r;
  }
  return kDone;
}

} // namespace zuro
