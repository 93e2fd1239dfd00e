// What the automation object's member files share: the member identifiers (DISPIDs) of the
// interfaces and the small helpers for out arguments and range checks.
//
// Thread rule: constants and pure functions; thread-safe.
#pragma once

#include <bxplatform/com.h>

namespace ferro::automation {

// ---- IBXTessvikFerroFW ----------------------------------------------------------------------
inline constexpr DISPID kDispVisible = 1, kDispAutoScroll = 2, kDispAxBorderStyle = 3,
                        kDispColor = -501, kDispFont = -512, kDispKeyPreview = 4,
                        kDispPixelsPerInch = 5, kDispPrintScale = 6, kDispScaled = 7,
                        kDispActive = 8, kDispDropTarget = 9, kDispHelpFile = 10,
                        kDispWindowState = 11, kDispEnabled = -514, kDispCursor = 12,
                        kDispAboutBox = -552;
inline constexpr DISPID kDispBlackLevel = 13, kDispWhiteLevel = 14, kDispBrightness = 15,
                        kDispContrast = 16, kDispSaturation = 17, kDispFrameRate = 18,
                        kDispExposureTime = 19, kDispRecycle = 20, kDispAbort = 21,
                        kDispGrabProgress = 22, kDispChannel = 23, kDispInitialise = 24,
                        kDispCamera = 25, kDispQuit = 26, kDispEnableLiveVideo = 27,
                        kDispDisableLiveVideo = 28, kDispDisplayWindow = 29,
                        kDispNumberOfFrames = 30, kDispGrab = 31, kDispSnap = 32,
                        kDispPostTriggerFrames = 33, kDispPreTriggerFrames = 34,
                        kDispPostTrigger = 35, kDispPreTrigger = 36, kDispGrabWindowLeft = 37,
                        kDispGetImage = 38, kDispGrabWindowTop = 39, kDispGrabWindowWidth = 40,
                        kDispGain = 41, kDispGrabWindowHeight = 42, kDispBinningFactorX = 43,
                        kDispBinningFactorY = 44, kDispFrameTrigger = 45, kDispPreTriggerClick = 46,
                        kDispFrameTriggerClick = 47, kDispPostTriggerClick = 48,
                        kDispImageWindow = 49, kDispDisplayEnabled = 50,
                        kDispSetAcquisitionPalette = 51, kDispTimeToNextFrame = 52,
                        kDispTimeElapsed = 53, kDispTimeRemaining = 54, kDispMapMin = 55,
                        kDispMapMax = 56, kDispActualTemperature = 57, kDispTemperture = 58,
                        kDispShowConfiguration = 59, kDispHideConfiguration = 60,
                        kDispGrabWindowRight = 61, kDispGrabWindowBottom = 62,
                        kDispWindowedGrab = 63, kDispCurrentMappingFormat = 64,
                        kDispLoadFromRegistry = 65, kDispSaveToRegistry = 66,
                        kDispTimeToFrameCompletion = 67;

// ---- Members only IBXCameraInterface has (its shared members keep the DISPIDs above) --------
inline constexpr DISPID kDispReservedA = 501, kDispGrabFrameIntoImage = 502, kDispReservedB = 503,
                        kDispReservedC = 504, kDispInterfaceVersion = 505, kDispReservedD = 506,
                        kDispReservedE = 507, kDispOffset = 531, kDispEmbedPanel = 540,
                        kDispRestorePanel = 541, kDispReservedF = 542, kDispReservedG = 543,
                        kDispBitDepth = 544, kDispReservedH = 545, kDispExposureSeconds = 661,
                        kDispEditLockEnabled = 662;
// The one method of IBXCameraInterface2 and of the third interface.
inline constexpr DISPID kDispShutdown = 1, kDispFreezeLive = 1;

// ---- Events of IBXTessvikFerroFWEvents are in control/Events.h --------------------------------

inline VARIANT_BOOL ToVariantBool(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// Writes an out argument; E_POINTER for a null one.
template <class T, class V>
HRESULT Out(T* out, const V& value) {
    if (out == nullptr) return E_POINTER;
    *out = static_cast<T>(value);
    return S_OK;
}
inline HRESULT OutBool(VARIANT_BOOL* out, bool value) {
    return Out(out, ToVariantBool(value));
}

template <class V>
bool InRange(V value, long lo, long hi) {
    return static_cast<long>(value) >= lo && static_cast<long>(value) <= hi;
}

}  // namespace ferro::automation
