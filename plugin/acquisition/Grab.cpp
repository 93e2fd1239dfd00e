// Grab: the front part every sequence shares (checks, region, the image and its creation
// record), then the path: the disk device when the store streams to one, the direct path for
// the MicroDot binned four rows high, else the streaming path.
#include <bxmm/mm40.h>
#include <bxplatform/ui.h>

#include "acquisition/Sequence.h"
#include "control/BXTessvikGrabImpl1.h"
#include "support/ScopeExit.h"

namespace ferro {

int32_t TBXTessvikFerroFW::Grab() {
    if (!CameraIsReady(NotReady::Beep, true)) return 0;
    if (LiveActive) {
        bx::ui::Beep();
        throw ControlFailure("Focus In Progress");
    }
    if (GrabInProgress) throw ControlFailure("Grab In Progress");

    ApplyRegion();
    GrabInProgress = true;
    // However the grab ends, it is no longer in progress.
    support::ScopeExit finished([this] { GrabInProgress = false; });
    SetGrabProgress(-1);
    bx::ui::ProcessMessages();
    GrabErrorAbort = false;
    Abort = false;  // directly: no notification
    PreTriggerRunning = true;
    DoPreAcquisitionTriggerClick();

    const int32_t image = CreateAcquisitionImage(ImageKind::Sequence, "Unknown image Type");
    if (BitDepth != 24) ApplyAcquisitionPalette(image);
    if (MM_IsSCSIInitialised() != 0) return RunDiskSequence(image);

    const bool direct = CameraTypeIsMicroDot() && RoiBinning.Y == 4;
    int ok = 0;
    try {
        ok = direct ? RunDirectSequence() : RunStreamingSequence();
    } catch (const acquisition::SequenceEnded&) {
        // The image holds what was acquired before the failure; the grab ends as usual first.
        finished.RunNow();
        Abort = false;
        ApplyRegion();
        throw;
    }
    if (!ok) {
        MM_DeleteImage(static_cast<MM_HANDLE>(image));
        AcquisitionImage = 0;
    }
    finished.RunNow();
    Abort = false;
    ApplyRegion();
    return AcquisitionImage;
}

}  // namespace ferro
