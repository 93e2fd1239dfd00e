// The descriptions of the control's type library, member by member in function-table order.
#include "automation/TypeLibrary.h"

#include <bxcamera/interfaces.h>
#include "automation/Members.h"

namespace ferro {

using namespace automation;
using M = bx::com::Member;

// Built at load, before any object exists (a member that could not be described would stop the
// module there, not in a host's call).

const bx::com::InterfaceDescription kIBXTessvikFerroFW{
    u"IBXTessvikFerroFW",
    IID_IBXTessvikFerroFW,
    u"Dispatch interface for BXTessvikFerroFW Control",
    {
        M::Of<&IBXTessvikFerroFW::get_Visible>(u"Visible", kDispVisible, bx::com::PropGet).Bool(),
        M::Of<&IBXTessvikFerroFW::put_Visible>(u"Visible", kDispVisible, bx::com::PropPut).Bool(),
        M::Of<&IBXTessvikFerroFW::get_AutoScroll>(u"AutoScroll", kDispAutoScroll, bx::com::PropGet)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::put_AutoScroll>(u"AutoScroll", kDispAutoScroll, bx::com::PropPut)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::get_AxBorderStyle>(u"AxBorderStyle", kDispAxBorderStyle,
                                                     bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_AxBorderStyle>(u"AxBorderStyle", kDispAxBorderStyle,
                                                     bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Color>(u"Color", kDispColor, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Color>(u"Color", kDispColor, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Font>(u"Font", kDispFont, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Font>(u"Font", kDispFont, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::putref_Font>(u"Font", kDispFont, bx::com::PropPutRef),
        M::Of<&IBXTessvikFerroFW::get_KeyPreview>(u"KeyPreview", kDispKeyPreview, bx::com::PropGet)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::put_KeyPreview>(u"KeyPreview", kDispKeyPreview, bx::com::PropPut)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::get_PixelsPerInch>(u"PixelsPerInch", kDispPixelsPerInch,
                                                     bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_PixelsPerInch>(u"PixelsPerInch", kDispPixelsPerInch,
                                                     bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_PrintScale>(u"PrintScale", kDispPrintScale, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_PrintScale>(u"PrintScale", kDispPrintScale, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Scaled>(u"Scaled", kDispScaled, bx::com::PropGet).Bool(),
        M::Of<&IBXTessvikFerroFW::put_Scaled>(u"Scaled", kDispScaled, bx::com::PropPut).Bool(),
        M::Of<&IBXTessvikFerroFW::get_Active>(u"Active", kDispActive, bx::com::PropGet).Bool(),
        M::Of<&IBXTessvikFerroFW::get_DropTarget>(u"DropTarget", kDispDropTarget, bx::com::PropGet)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::put_DropTarget>(u"DropTarget", kDispDropTarget, bx::com::PropPut)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::get_HelpFile>(u"HelpFile", kDispHelpFile, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_HelpFile>(u"HelpFile", kDispHelpFile, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_WindowState>(u"WindowState", kDispWindowState,
                                                   bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_WindowState>(u"WindowState", kDispWindowState,
                                                   bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Enabled>(u"Enabled", kDispEnabled, bx::com::PropGet).Bool(),
        M::Of<&IBXTessvikFerroFW::put_Enabled>(u"Enabled", kDispEnabled, bx::com::PropPut).Bool(),
        M::Of<&IBXTessvikFerroFW::get_Cursor>(u"Cursor", kDispCursor, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Cursor>(u"Cursor", kDispCursor, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::AboutBox>(u"AboutBox", kDispAboutBox),
        M::Of<&IBXTessvikFerroFW::get_BlackLevel>(u"BlackLevel", kDispBlackLevel, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_BlackLevel>(u"BlackLevel", kDispBlackLevel, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_WhiteLevel>(u"WhiteLevel", kDispWhiteLevel, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_WhiteLevel>(u"WhiteLevel", kDispWhiteLevel, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Brightness>(u"Brightness", kDispBrightness, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Brightness>(u"Brightness", kDispBrightness, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Contrast>(u"Contrast", kDispContrast, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Contrast>(u"Contrast", kDispContrast, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Saturation>(u"Saturation", kDispSaturation, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Saturation>(u"Saturation", kDispSaturation, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_FrameRate>(u"FrameRate", kDispFrameRate, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_FrameRate>(u"FrameRate", kDispFrameRate, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_ExposureTime>(u"ExposureTime", kDispExposureTime,
                                                    bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_ExposureTime>(u"ExposureTime", kDispExposureTime,
                                                    bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Recycle>(u"Recycle", kDispRecycle, bx::com::PropGet).Bool(),
        M::Of<&IBXTessvikFerroFW::put_Recycle>(u"Recycle", kDispRecycle, bx::com::PropPut).Bool(),
        M::Of<&IBXTessvikFerroFW::get_Abort>(u"Abort", kDispAbort, bx::com::PropGet).Bool(),
        M::Of<&IBXTessvikFerroFW::put_Abort>(u"Abort", kDispAbort, bx::com::PropPut).Bool(),
        M::Of<&IBXTessvikFerroFW::get_GrabProgress>(u"GrabProgress", kDispGrabProgress,
                                                    bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_GrabProgress>(u"GrabProgress", kDispGrabProgress,
                                                    bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Channel>(u"Channel", kDispChannel, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Channel>(u"Channel", kDispChannel, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::Initialise>(u"Initialise", kDispInitialise),
        M::Of<&IBXTessvikFerroFW::get_Camera>(u"Camera", kDispCamera, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Camera>(u"Camera", kDispCamera, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::Quit>(u"Quit", kDispQuit),
        M::Of<&IBXTessvikFerroFW::EnableLiveVideo>(u"EnableLiveVideo", kDispEnableLiveVideo),
        M::Of<&IBXTessvikFerroFW::DisableLiveVideo>(u"DisableLiveVideo", kDispDisableLiveVideo),
        M::Of<&IBXTessvikFerroFW::get_DisplayWindow>(u"DisplayWindow", kDispDisplayWindow,
                                                     bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_DisplayWindow>(u"DisplayWindow", kDispDisplayWindow,
                                                     bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_NumberOfFrames>(u"NumberOfFrames", kDispNumberOfFrames,
                                                      bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_NumberOfFrames>(u"NumberOfFrames", kDispNumberOfFrames,
                                                      bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::Grab>(u"Grab", kDispGrab),
        M::Of<&IBXTessvikFerroFW::Snap>(u"Snap", kDispSnap),
        M::Of<&IBXTessvikFerroFW::get_PostTriggerFrames>(u"PostTriggerFrames",
                                                         kDispPostTriggerFrames, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_PostTriggerFrames>(u"PostTriggerFrames",
                                                         kDispPostTriggerFrames, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_PreTriggerFrames>(u"PreTriggerFrames", kDispPreTriggerFrames,
                                                        bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_PreTriggerFrames>(u"PreTriggerFrames", kDispPreTriggerFrames,
                                                        bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_PostTrigger>(u"PostTrigger", kDispPostTrigger,
                                                   bx::com::PropGet)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::put_PostTrigger>(u"PostTrigger", kDispPostTrigger,
                                                   bx::com::PropPut)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::get_PreTrigger>(u"PreTrigger", kDispPreTrigger, bx::com::PropGet)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::put_PreTrigger>(u"PreTrigger", kDispPreTrigger, bx::com::PropPut)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::GetImage>(u"GetImage", kDispGetImage, bx::com::MethodRetVal),
        M::Of<&IBXTessvikFerroFW::get_GrabWindowLeft>(u"GrabWindowLeft", kDispGrabWindowLeft,
                                                      bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_GrabWindowLeft>(u"GrabWindowLeft", kDispGrabWindowLeft,
                                                      bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_GrabWindowTop>(u"GrabWindowTop", kDispGrabWindowTop,
                                                     bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_GrabWindowTop>(u"GrabWindowTop", kDispGrabWindowTop,
                                                     bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_GrabWindowWidth>(u"GrabWindowWidth", kDispGrabWindowWidth,
                                                       bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_GrabWindowWidth>(u"GrabWindowWidth", kDispGrabWindowWidth,
                                                       bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_GrabWindowHeight>(u"GrabWindowHeight", kDispGrabWindowHeight,
                                                        bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_GrabWindowHeight>(u"GrabWindowHeight", kDispGrabWindowHeight,
                                                        bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_BinningFactorX>(u"BinningFactorX", kDispBinningFactorX,
                                                      bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_BinningFactorX>(u"BinningFactorX", kDispBinningFactorX,
                                                      bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_BinningFactorY>(u"BinningFactorY", kDispBinningFactorY,
                                                      bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_BinningFactorY>(u"BinningFactorY", kDispBinningFactorY,
                                                      bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Gain>(u"Gain", kDispGain, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Gain>(u"Gain", kDispGain, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_FrameTrigger>(u"FrameTrigger", kDispFrameTrigger,
                                                    bx::com::PropGet)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::put_FrameTrigger>(u"FrameTrigger", kDispFrameTrigger,
                                                    bx::com::PropPut)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::PreTriggerClick>(u"PreTriggerClick", kDispPreTriggerClick),
        M::Of<&IBXTessvikFerroFW::FrameTriggerClick>(u"FrameTriggerClick", kDispFrameTriggerClick),
        M::Of<&IBXTessvikFerroFW::PostTriggerClick>(u"PostTriggerClick", kDispPostTriggerClick),
        M::Of<&IBXTessvikFerroFW::get_ImageWindow>(u"ImageWindow", kDispImageWindow,
                                                   bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_ImageWindow>(u"ImageWindow", kDispImageWindow,
                                                   bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_DisplayEnabled>(u"DisplayEnabled", kDispDisplayEnabled,
                                                      bx::com::PropGet)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::put_DisplayEnabled>(u"DisplayEnabled", kDispDisplayEnabled,
                                                      bx::com::PropPut)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::SetAcquisitionPalette>(
            u"SetAcquisitionPalette", kDispSetAcquisitionPalette, bx::com::Method, {u"Index"})
            .ParamType(0, VT_INT),
        M::Of<&IBXTessvikFerroFW::get_TimeToNextFrame>(u"TimeToNextFrame", kDispTimeToNextFrame,
                                                       bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_TimeToNextFrame>(u"TimeToNextFrame", kDispTimeToNextFrame,
                                                       bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_TimeElapsed>(u"TimeElapsed", kDispTimeElapsed,
                                                   bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_TimeElapsed>(u"TimeElapsed", kDispTimeElapsed,
                                                   bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_TimeRemaining>(u"TimeRemaining", kDispTimeRemaining,
                                                     bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_TimeRemaining>(u"TimeRemaining", kDispTimeRemaining,
                                                     bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_MapMin>(u"MapMin", kDispMapMin, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_MapMin>(u"MapMin", kDispMapMin, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_MapMax>(u"MapMax", kDispMapMax, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_MapMax>(u"MapMax", kDispMapMax, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_ActualTemperature>(u"ActualTemperature",
                                                         kDispActualTemperature, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_ActualTemperature>(u"ActualTemperature",
                                                         kDispActualTemperature, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_Temperture>(u"Temperture", kDispTemperture, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_Temperture>(u"Temperture", kDispTemperture, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::ShowConfiguration>(u"ShowConfiguration", kDispShowConfiguration),
        M::Of<&IBXTessvikFerroFW::HideConfiguration>(u"HideConfiguration", kDispHideConfiguration),
        M::Of<&IBXTessvikFerroFW::get_GrabWindowRight>(u"GrabWindowRight", kDispGrabWindowRight,
                                                       bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_GrabWindowRight>(u"GrabWindowRight", kDispGrabWindowRight,
                                                       bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_GrabWindowBottom>(u"GrabWindowBottom", kDispGrabWindowBottom,
                                                        bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_GrabWindowBottom>(u"GrabWindowBottom", kDispGrabWindowBottom,
                                                        bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_WindowedGrab>(u"WindowedGrab", kDispWindowedGrab,
                                                    bx::com::PropGet)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::put_WindowedGrab>(u"WindowedGrab", kDispWindowedGrab,
                                                    bx::com::PropPut)
            .Bool(),
        M::Of<&IBXTessvikFerroFW::LoadFromRegistry>(u"LoadFromRegistry", kDispLoadFromRegistry,
                                                    bx::com::Method, {u"UserRegistry"}),
        M::Of<&IBXTessvikFerroFW::SaveToRegistry>(u"SaveToRegistry", kDispSaveToRegistry,
                                                  bx::com::Method, {u"UserRegistry"}),
        M::Of<&IBXTessvikFerroFW::get_CurrentMappingFormat>(
            u"CurrentMappingFormat", kDispCurrentMappingFormat, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_CurrentMappingFormat>(
            u"CurrentMappingFormat", kDispCurrentMappingFormat, bx::com::PropPut),
        M::Of<&IBXTessvikFerroFW::get_TimeToFrameCompletion>(
            u"TimeToFrameCompletion", kDispTimeToFrameCompletion, bx::com::PropGet),
        M::Of<&IBXTessvikFerroFW::put_TimeToFrameCompletion>(
            u"TimeToFrameCompletion", kDispTimeToFrameCompletion, bx::com::PropPut),
    }};
const bx::com::InterfaceDescription& DescribeIBXTessvikFerroFW() {
    return kIBXTessvikFerroFW;
}

const bx::com::InterfaceDescription kIBXCameraInterface{
    u"IBXCameraInterface",
    IID_IBXCameraInterface,
    u"Common camera interface",
    {
        M::Of<&IBXCameraInterface::Initialise>(u"Initialise", kDispInitialise),
        M::Of<&IBXCameraInterface::Quit>(u"Quit", kDispQuit),
        M::Of<&IBXCameraInterface::EnableLiveVideo>(u"EnableLiveVideo", kDispEnableLiveVideo),
        M::Of<&IBXCameraInterface::DisableLiveVideo>(u"DisableLiveVideo", kDispDisableLiveVideo),
        M::Of<&IBXCameraInterface::Grab>(u"Grab", kDispGrab),
        M::Of<&IBXCameraInterface::Snap>(u"Snap", kDispSnap),
        M::Of<&IBXCameraInterface::ReservedA>(u"ReservedA", kDispReservedA, bx::com::Method,
                                              {u"a", u"b", u"c"}),
        M::Of<&IBXCameraInterface::GrabFrameIntoImage>(
            u"GrabFrameIntoImage", kDispGrabFrameIntoImage, bx::com::Method,
            {u"hImage", u"frameIndex", u"elapsedMs", u"firstFrame"})
            .Bool(),
        M::Of<&IBXCameraInterface::GetImage>(u"GetImage", kDispGetImage, bx::com::MethodRetVal),
        M::Of<&IBXCameraInterface::LoadFromRegistry>(u"LoadFromRegistry", kDispLoadFromRegistry,
                                                     bx::com::Method, {u"UserRegistry"}),
        M::Of<&IBXCameraInterface::SaveToRegistry>(u"SaveToRegistry", kDispSaveToRegistry,
                                                   bx::com::Method, {u"UserRegistry"}),
        M::Of<&IBXCameraInterface::PreTriggerClick>(u"PreTriggerClick", kDispPreTriggerClick),
        M::Of<&IBXCameraInterface::FrameTriggerClick>(u"FrameTriggerClick", kDispFrameTriggerClick),
        M::Of<&IBXCameraInterface::PostTriggerClick>(u"PostTriggerClick", kDispPostTriggerClick),
        M::Of<&IBXCameraInterface::ReservedB>(u"ReservedB", kDispReservedB, bx::com::Method,
                                              {u"a"}),
        M::Of<&IBXCameraInterface::ReservedC>(u"ReservedC", kDispReservedC, bx::com::Method,
                                              {u"a"}),
        M::Of<&IBXCameraInterface::get_InterfaceVersion>(u"InterfaceVersion", kDispInterfaceVersion,
                                                         bx::com::PropGet),
        M::Of<&IBXCameraInterface::get_BlackLevel>(u"BlackLevel", kDispBlackLevel,
                                                   bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_BlackLevel>(u"BlackLevel", kDispBlackLevel,
                                                   bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_WhiteLevel>(u"WhiteLevel", kDispWhiteLevel,
                                                   bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_WhiteLevel>(u"WhiteLevel", kDispWhiteLevel,
                                                   bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_Brightness>(u"Brightness", kDispBrightness,
                                                   bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_Brightness>(u"Brightness", kDispBrightness,
                                                   bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_Contrast>(u"Contrast", kDispContrast, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_Contrast>(u"Contrast", kDispContrast, bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_Saturation>(u"Saturation", kDispSaturation,
                                                   bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_Saturation>(u"Saturation", kDispSaturation,
                                                   bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_Gain>(u"Gain", kDispGain, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_Gain>(u"Gain", kDispGain, bx::com::PropPut),
        M::Of<&IBXCameraInterface::ReservedD>(u"ReservedD", kDispReservedD, bx::com::Method,
                                              {u"a"}),
        M::Of<&IBXCameraInterface::ReservedE>(u"ReservedE", kDispReservedE, bx::com::Method,
                                              {u"a"}),
        M::Of<&IBXCameraInterface::get_Offset>(u"Offset", kDispOffset, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_Offset>(u"Offset", kDispOffset, bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_ExposureTime>(u"ExposureTime", kDispExposureTime,
                                                     bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_ExposureTime>(u"ExposureTime", kDispExposureTime,
                                                     bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_Channel>(u"Channel", kDispChannel, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_Channel>(u"Channel", kDispChannel, bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_BinningFactorX>(u"BinningFactorX", kDispBinningFactorX,
                                                       bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_BinningFactorX>(u"BinningFactorX", kDispBinningFactorX,
                                                       bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_BinningFactorY>(u"BinningFactorY", kDispBinningFactorY,
                                                       bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_BinningFactorY>(u"BinningFactorY", kDispBinningFactorY,
                                                       bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_WindowedGrab>(u"WindowedGrab", kDispWindowedGrab,
                                                     bx::com::PropGet)
            .Bool(),
        M::Of<&IBXCameraInterface::put_WindowedGrab>(u"WindowedGrab", kDispWindowedGrab,
                                                     bx::com::PropPut)
            .Bool(),
        M::Of<&IBXCameraInterface::get_GrabWindowLeft>(u"GrabWindowLeft", kDispGrabWindowLeft,
                                                       bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_GrabWindowLeft>(u"GrabWindowLeft", kDispGrabWindowLeft,
                                                       bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_GrabWindowTop>(u"GrabWindowTop", kDispGrabWindowTop,
                                                      bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_GrabWindowTop>(u"GrabWindowTop", kDispGrabWindowTop,
                                                      bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_GrabWindowRight>(u"GrabWindowRight", kDispGrabWindowRight,
                                                        bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_GrabWindowRight>(u"GrabWindowRight", kDispGrabWindowRight,
                                                        bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_GrabWindowBottom>(u"GrabWindowBottom", kDispGrabWindowBottom,
                                                         bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_GrabWindowBottom>(u"GrabWindowBottom", kDispGrabWindowBottom,
                                                         bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_GrabWindowWidth>(u"GrabWindowWidth", kDispGrabWindowWidth,
                                                        bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_GrabWindowWidth>(u"GrabWindowWidth", kDispGrabWindowWidth,
                                                        bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_GrabWindowHeight>(u"GrabWindowHeight", kDispGrabWindowHeight,
                                                         bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_GrabWindowHeight>(u"GrabWindowHeight", kDispGrabWindowHeight,
                                                         bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_NumberOfFrames>(u"NumberOfFrames", kDispNumberOfFrames,
                                                       bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_NumberOfFrames>(u"NumberOfFrames", kDispNumberOfFrames,
                                                       bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_FrameRate>(u"FrameRate", kDispFrameRate, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_FrameRate>(u"FrameRate", kDispFrameRate, bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_DisplayWindow>(u"DisplayWindow", kDispDisplayWindow,
                                                      bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_DisplayWindow>(u"DisplayWindow", kDispDisplayWindow,
                                                      bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_ImageWindow>(u"ImageWindow", kDispImageWindow,
                                                    bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_ImageWindow>(u"ImageWindow", kDispImageWindow,
                                                    bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_DisplayEnabled>(u"DisplayEnabled", kDispDisplayEnabled,
                                                       bx::com::PropGet)
            .Bool(),
        M::Of<&IBXCameraInterface::put_DisplayEnabled>(u"DisplayEnabled", kDispDisplayEnabled,
                                                       bx::com::PropPut)
            .Bool(),
        M::Of<&IBXCameraInterface::SetAcquisitionPalette>(
            u"SetAcquisitionPalette", kDispSetAcquisitionPalette, bx::com::Method, {u"Index"})
            .ParamType(0, VT_INT),
        M::Of<&IBXCameraInterface::get_MapMin>(u"MapMin", kDispMapMin, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_MapMin>(u"MapMin", kDispMapMin, bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_MapMax>(u"MapMax", kDispMapMax, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_MapMax>(u"MapMax", kDispMapMax, bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_CurrentMappingFormat>(
            u"CurrentMappingFormat", kDispCurrentMappingFormat, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_CurrentMappingFormat>(
            u"CurrentMappingFormat", kDispCurrentMappingFormat, bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_PreTrigger>(u"PreTrigger", kDispPreTrigger, bx::com::PropGet)
            .Bool(),
        M::Of<&IBXCameraInterface::put_PreTrigger>(u"PreTrigger", kDispPreTrigger, bx::com::PropPut)
            .Bool(),
        M::Of<&IBXCameraInterface::get_PreTriggerFrames>(u"PreTriggerFrames", kDispPreTriggerFrames,
                                                         bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_PreTriggerFrames>(u"PreTriggerFrames", kDispPreTriggerFrames,
                                                         bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_FrameTrigger>(u"FrameTrigger", kDispFrameTrigger,
                                                     bx::com::PropGet)
            .Bool(),
        M::Of<&IBXCameraInterface::put_FrameTrigger>(u"FrameTrigger", kDispFrameTrigger,
                                                     bx::com::PropPut)
            .Bool(),
        M::Of<&IBXCameraInterface::get_PostTrigger>(u"PostTrigger", kDispPostTrigger,
                                                    bx::com::PropGet)
            .Bool(),
        M::Of<&IBXCameraInterface::put_PostTrigger>(u"PostTrigger", kDispPostTrigger,
                                                    bx::com::PropPut)
            .Bool(),
        M::Of<&IBXCameraInterface::get_PostTriggerFrames>(u"PostTriggerFrames",
                                                          kDispPostTriggerFrames, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_PostTriggerFrames>(u"PostTriggerFrames",
                                                          kDispPostTriggerFrames, bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_Recycle>(u"Recycle", kDispRecycle, bx::com::PropGet).Bool(),
        M::Of<&IBXCameraInterface::put_Recycle>(u"Recycle", kDispRecycle, bx::com::PropPut).Bool(),
        M::Of<&IBXCameraInterface::get_Abort>(u"Abort", kDispAbort, bx::com::PropGet).Bool(),
        M::Of<&IBXCameraInterface::put_Abort>(u"Abort", kDispAbort, bx::com::PropPut).Bool(),
        M::Of<&IBXCameraInterface::get_GrabProgress>(u"GrabProgress", kDispGrabProgress,
                                                     bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_GrabProgress>(u"GrabProgress", kDispGrabProgress,
                                                     bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_TimeToNextFrame>(u"TimeToNextFrame", kDispTimeToNextFrame,
                                                        bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_TimeToNextFrame>(u"TimeToNextFrame", kDispTimeToNextFrame,
                                                        bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_TimeElapsed>(u"TimeElapsed", kDispTimeElapsed,
                                                    bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_TimeElapsed>(u"TimeElapsed", kDispTimeElapsed,
                                                    bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_TimeRemaining>(u"TimeRemaining", kDispTimeRemaining,
                                                      bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_TimeRemaining>(u"TimeRemaining", kDispTimeRemaining,
                                                      bx::com::PropPut),
        M::Of<&IBXCameraInterface::get_TimeToFrameCompletion>(
            u"TimeToFrameCompletion", kDispTimeToFrameCompletion, bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_TimeToFrameCompletion>(
            u"TimeToFrameCompletion", kDispTimeToFrameCompletion, bx::com::PropPut),
        M::Of<&IBXCameraInterface::EmbedPanel>(
            u"EmbedPanel", kDispEmbedPanel, bx::com::Method,
            {u"parentWindow", u"left", u"top", u"width", u"height"}),
        M::Of<&IBXCameraInterface::RestorePanel>(u"RestorePanel", kDispRestorePanel),
        M::Of<&IBXCameraInterface::ReservedF>(u"ReservedF", kDispReservedF, bx::com::Method,
                                              {u"a", u"b", u"c", u"d", u"e"}),
        M::Of<&IBXCameraInterface::ReservedG>(u"ReservedG", kDispReservedG),
        M::Of<&IBXCameraInterface::get_BitDepth>(u"BitDepth", kDispBitDepth, bx::com::PropGet),
        M::Of<&IBXCameraInterface::ReservedH>(u"ReservedH", kDispReservedH, bx::com::Method,
                                              {u"a"}),
        M::Of<&IBXCameraInterface::get_ExposureSeconds>(u"ExposureSeconds", kDispExposureSeconds,
                                                        bx::com::PropGet),
        M::Of<&IBXCameraInterface::put_ExposureSeconds>(u"ExposureSeconds", kDispExposureSeconds,
                                                        bx::com::PropPut),
        M::Of<&IBXCameraInterface::put_EditLockEnabled>(u"EditLockEnabled", kDispEditLockEnabled,
                                                        bx::com::PropPut)
            .Bool(),
    }};
const bx::com::InterfaceDescription& DescribeIBXCameraInterface() {
    return kIBXCameraInterface;
}

const bx::com::InterfaceDescription& DescribeIBXCameraInterface2() {
    static const bx::com::InterfaceDescription description{
        u"IBXCameraInterface2",
        IID_IBXCameraInterface2,
        u"Common camera interface: teardown",
        {M::Of<&IBXCameraInterface2::Shutdown>(u"Shutdown", kDispShutdown)}};
    return description;
}

const bx::com::InterfaceDescription& DescribeIBXCameraInterface3() {
    static const bx::com::InterfaceDescription description{
        u"IBXCameraInterface3",
        IID_IBXCameraInterface3,
        u"Common camera interface: live freeze",
        {M::Of<&IBXCameraInterface3::FreezeLive>(u"FreezeLive", kDispFreezeLive)}};
    return description;
}

// The events go out through IDispatch::Invoke only; the C++ class gives their names and
// DISPIDs to the type information hosts read.
const bx::com::InterfaceDescription& DescribeIBXTessvikFerroFWEvents() {
    using E = IBXTessvikFerroFWEvents;
    static const bx::com::InterfaceDescription description{
        u"IBXTessvikFerroFWEvents",
        DIID_IBXTessvikFerroFWEvents,
        u"Events interface for BXTessvikFerroFW Control",
        {
            M::Of<&E::OnActivate>(u"OnActivate", 1),
            M::Of<&E::OnClick>(u"OnClick", 2),
            M::Of<&E::OnCreate>(u"OnCreate", 3),
            M::Of<&E::OnDblClick>(u"OnDblClick", 4),
            M::Of<&E::OnDestroy>(u"OnDestroy", 5),
            M::Of<&E::OnDeactivate>(u"OnDeactivate", 6),
            M::Of<&E::OnPaint>(u"OnPaint", 15),
            M::Of<&E::OnProcessUpdate>(u"OnProcessUpdate", 256),
            M::Of<&E::OnPreFrameTriggerClick>(u"OnPreFrameTriggerClick", 257),
            M::Of<&E::OnFrameTriggerClick>(u"OnFrameTriggerClick", 258),
            M::Of<&E::OnPostFrameTriggerClick>(u"OnPostFrameTriggerClick", 259),
            M::Of<&E::OnPreAcquisitionTriggerClick>(u"OnPreAcquisitionTriggerClick", 260),
            M::Of<&E::OnAcquisitionTriggerClick>(u"OnAcquisitionTriggerClick", 261),
            M::Of<&E::OnPostAcquisitionTriggerClick>(u"OnPostAcquisitionTriggerClick", 262),
            M::Of<&E::OnTimeToNextFrameUpdate>(u"OnTimeToNextFrameUpdate", 263),
            M::Of<&E::OnTimeElapsedUpdate>(u"OnTimeElapsedUpdate", 264),
            M::Of<&E::OnTimeRemainingUpdate>(u"OnTimeRemainingUpdate", 265),
            M::Of<&E::OnTimeToFrameCompletionUpdate>(u"OnTimeToFrameCompletionUpdate", 266),
            M::Of<&E::OnLiveFrameUpdate>(u"OnLiveFrameUpdate", 267)
                .Help(u"Live Frame Update Event to allow user syncronisation when in Live Mode"),
        },
        TYPEFLAG_FDISPATCHABLE};
    return description;
}

const bx::com::CoclassDescription& DescribeBXTessvikFerroFW() {
    static const bx::com::CoclassDescription description{
        u"BXTessvikFerroFW",
        CLSID_BXTessvikFerroFW,
        u"RIROVoruzarUZ Control",
        {{&DescribeIBXTessvikFerroFW(), IMPLTYPEFLAG_FDEFAULT},
         {&DescribeIBXTessvikFerroFWEvents(), IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
         {&DescribeIBXCameraInterface()},
         {&DescribeIBXCameraInterface2()},
         {&DescribeIBXCameraInterface3()}},
        TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL};
    return description;
}

}  // namespace ferro
