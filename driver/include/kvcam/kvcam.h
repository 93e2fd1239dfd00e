/* KvCam: the camera driver's C interface.
 *
 * One process-wide driver (load, list, open) serves any number of cameras; each open camera is
 * named by a 32-bit handle and runs its own capture thread. Every entry point returns a result
 * code from the list below (0 = success) unless its comment says otherwise.
 *
 * Thread rule: every function is thread-safe. Completion callbacks run on the camera's own
 * thread with no driver lock held, so a callback may call any entry point except
 * KvCam_CloseCamera, KvCam_ReleaseDriver and KvCam_GrabFrame on its own camera (those answer
 * KVCAM_ERR_WRONG_THREAD there, because they would wait for the thread that is calling them).
 *
 * Two backends serve this header, chosen at KvCam_LoadDriver: a simulated camera (the default)
 * and GenICam cameras through Aravis. See driver/README.md for the camera description that
 * chooses between them and kvcam_sim.h for the test hooks.
 */
#ifndef KVCAM_KVCAM_H
#define KVCAM_KVCAM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KVCAM_API __attribute__((visibility("default")))
#else
#define KVCAM_API
#endif

/* ---- Result codes ------------------------------------------------------------------------ */

enum {
    KVCAM_OK = 0,
    KVCAM_ERR_FAILED = 1,            /* unspecified failure (also the default injected fault) */
    KVCAM_ERR_NOT_LOADED = 2,        /* KvCam_LoadDriver has not succeeded yet */
    KVCAM_ERR_INVALID_HANDLE = 3,    /* camera handle unknown or already closed */
    KVCAM_ERR_NULL_POINTER = 4,      /* a required pointer argument was null */
    KVCAM_ERR_UNKNOWN_ID = 5,        /* info id or parameter id not known to the driver */
    KVCAM_ERR_OUT_OF_RANGE = 6,      /* value outside the parameter's limits or table */
    KVCAM_ERR_ALREADY_LOADED = 7,    /* KvCam_LoadDriver while loaded; the driver stays loaded */
    KVCAM_ERR_NO_CAMERA = 8,         /* no camera with that id */
    KVCAM_ERR_BAD_SETTINGS = 9,      /* settings block with a wrong size word, never filled, or
                                        holding values this camera cannot take */
    KVCAM_ERR_NOT_SUPPORTED = 10,    /* parameter or operation not available on this camera */
    KVCAM_ERR_NOT_THIS_KIND = 11,    /* answer of KvCam_IsSparseTable / KvCam_IsRangeTable: no */
    KVCAM_ERR_BUFFER_TOO_SMALL = 12, /* frame buffer null or smaller than the frame */
    KVCAM_ERR_NOT_STREAMING = 13,    /* KvCam_QueueFrame before KvCam_SetStreaming(h, 1) */
    KVCAM_ERR_ABORTED = 14,          /* frame cancelled by KvCam_Abort or by closing the camera */
    KVCAM_ERR_REFUSED = 15,          /* the camera refused the settings block */
    KVCAM_ERR_COMMS = 16,            /* the camera did not answer (transfer of settings failed) */
    KVCAM_ERR_ALREADY_OPEN = 17,     /* KvCam_OpenCamera on a camera that is open */
    KVCAM_ERR_QUEUE_FULL = 18,       /* too many frames queued (KVCAM_MAX_QUEUED_FRAMES) */
    KVCAM_ERR_BAD_FORMAT = 19,       /* image format not valid for this call or this sensor */
    KVCAM_ERR_TIMEOUT = 20,          /* KvCam_GrabFrame's frame did not start within the grab
                                        time-out (behind queued frames or for its trigger) */
    KVCAM_ERR_GRAB_TRANSIENT = 21,   /* transient grab failure: pause briefly and try again */
    KVCAM_ERR_WRONG_THREAD = 22      /* call would wait for the calling callback thread */
};

/* ---- Identifiers --------------------------------------------------------------------------- */

typedef uint32_t KvCamHandle; /* 0 is never a valid handle */

/* Information ids for KvCam_GetInfo. */
enum {
    KVCAM_INFO_CAMERA_TYPE = 0, /* 0..8, see the README for the models */
    KVCAM_INFO_SERIAL_NUMBER = 1,
    KVCAM_INFO_HARDWARE_VERSION = 2,
    KVCAM_INFO_FIRMWARE_VERSION = 3,
    KVCAM_INFO_READOUT_SPEEDS = 4, /* number of readout speeds (values of parameter 6) */
    KVCAM_INFO_MAX_BIT_DEPTH = 5,
    KVCAM_INFO_COOLER = 6,       /* 1 when a cooler is fitted */
    KVCAM_INFO_TEMPERATURE = 7,  /* sensor temperature in tenths of a degree Celsius */
    KVCAM_INFO_IMAGE_WIDTH = 8,  /* delivered frame width (region, binning) */
    KVCAM_INFO_IMAGE_HEIGHT = 9, /* delivered frame height */
    KVCAM_INFO_IMAGE_SIZE = 10,  /* delivered frame size in bytes (also follows format) */
    KVCAM_INFO_CCD_TYPE = 11,    /* 0 monochrome, 1 colour (Bayer) */
    KVCAM_INFO_CCD_WIDTH = 12,   /* sensor width in pixels */
    KVCAM_INFO_CCD_HEIGHT = 13,  /* sensor height in pixels */
    KVCAM_INFO_FIRMWARE_BUILD = 14,
    KVCAM_INFO_BAYER_PATTERN = 15, /* KVCAM_BAYER_* of the sensor's first pixel */
    KVCAM_INFO_MODEL_B = 16        /* 1 for a model-B camera */
};

/* Text ids for KvCam_GetText. */
enum {
    KVCAM_TEXT_BACKEND = 0,  /* "simulated" or "genicam" */
    KVCAM_TEXT_DEVICE = 1,   /* the backend's device id ("simulated camera 1", "Fake_1", ...) */
    KVCAM_TEXT_VENDOR = 2,
    KVCAM_TEXT_MODEL = 3,
    KVCAM_TEXT_SERIAL = 4,
    KVCAM_TEXT_FIRMWARE = 5
};

/* Parameter ids for the settings block (KvCam_SetParam and friends). */
enum {
    KVCAM_PARAM_GAIN = 0,          /* 0..4095; 0 is unity, 4095 is 16x, linear between */
    KVCAM_PARAM_OFFSET = 1,        /* 0..4095; inverted: 4095 adds no black level */
    KVCAM_PARAM_EXPOSURE = 2,      /* microseconds; rounded to the camera's quantum */
    KVCAM_PARAM_BINNING = 3,       /* square binning; sets both axes */
    KVCAM_PARAM_BINNING_H = 4,     /* horizontal binning; only where supported */
    KVCAM_PARAM_BINNING_V = 5,     /* vertical binning */
    KVCAM_PARAM_READOUT_SPEED = 6, /* index into the camera's readout speeds, 0 fastest */
    KVCAM_PARAM_TRIGGER = 7,       /* KVCAM_TRIGGER_* */
    KVCAM_PARAM_FORMAT = 12,       /* KVCAM_FORMAT_MONO8, _MONO16 or _BAYER8 */
    KVCAM_PARAM_ROI_X = 13,        /* region, 0-based, in binned pixels (see README) */
    KVCAM_PARAM_ROI_Y = 14,
    KVCAM_PARAM_ROI_WIDTH = 15,
    KVCAM_PARAM_ROI_HEIGHT = 16
};

/* Trigger types (parameter 7). */
enum {
    KVCAM_TRIGGER_FREE_RUN = 0, /* each frame starts as soon as the camera is free */
    KVCAM_TRIGGER_EXTERNAL = 3, /* each frame waits for an external trigger pulse */
    KVCAM_TRIGGER_SOFTWARE = 5  /* each frame waits for KvCam_Trigger */
};

/* Image formats (parameter 12 and KvCamFrame.format). */
enum {
    KVCAM_FORMAT_MONO8 = 2,  /* one byte per pixel: the top 8 bits of the full depth */
    KVCAM_FORMAT_MONO16 = 3, /* one 16-bit word per pixel holding the full bit depth */
    KVCAM_FORMAT_BAYER8 = 4, /* one byte per pixel of the colour mosaic (colour sensors only) */
    KVCAM_FORMAT_RGB24 = 8   /* three bytes per pixel in blue, green, red order */
};

/* Colour of a mosaic's first pixel and the pixel right of it. */
enum {
    KVCAM_BAYER_NONE = 0, /* not a mosaic (monochrome sensor, or binned colour charge) */
    KVCAM_BAYER_RGGB = 1,
    KVCAM_BAYER_GRBG = 2,
    KVCAM_BAYER_GBRG = 3,
    KVCAM_BAYER_BGGR = 4
};

/* Demosaic methods for KvCam_BayerToRgb. */
enum { KVCAM_DEMOSAIC_NEAREST = 0, KVCAM_DEMOSAIC_BILINEAR = 1 };

/* Callback flags (argument of KvCam_QueueFrame and of the callback). */
enum { KVCAM_CALLBACK_ON_COMPLETION = 1 };

enum {
    KVCAM_SETTINGS_SIZE = 260,      /* value of KvCamSettings.size */
    KVCAM_MAX_QUEUED_FRAMES = 4096, /* pending frames per camera */
    KVCAM_MAX_SPARSE_ENTRIES = 32   /* largest sparse table the driver reports */
};

/* ---- Records ------------------------------------------------------------------------------- */

/* One entry of KvCam_ListCameras. */
typedef struct KvCamCameraInfo {
    uint32_t cameraId; /* pass to KvCam_OpenCamera */
    uint32_t cameraType;
    char model[32];  /* zero-terminated */
    char serial[16]; /* zero-terminated */
} KvCamCameraInfo;

/* The settings block: a camera's parameters as the driver keeps them. The caller owns it and
 * sets `size` to KVCAM_SETTINGS_SIZE before the first read; the body's layout is private.
 * Reads, sends and parameter calls refuse a block whose size word is wrong. */
typedef struct KvCamSettings {
    uint32_t size;
    uint8_t body[KVCAM_SETTINGS_SIZE - 4];
} KvCamSettings;

/* Frame descriptor. The caller fills `buffer` and `bufferSize` (and `format` for the output of
 * KvCam_BayerToRgb); the driver fills the rest when the frame completes. */
typedef struct KvCamFrame {
    void* buffer;
    uint32_t bufferSize;   /* bytes available at buffer */
    uint32_t format;       /* KVCAM_FORMAT_* of the data */
    uint32_t width;        /* pixels */
    uint32_t height;       /* rows */
    uint32_t bitDepth;     /* significant bits per pixel (8, the sensor depth, or 24) */
    uint32_t frameNumber;  /* camera-wide count of delivered frames since open, from 1 */
    int64_t timestamp;     /* exposure start, microseconds on the platform clock */
    int32_t errorCode;     /* KVCAM_OK or the reason the frame failed */
    uint32_t bayerPattern; /* KVCAM_BAYER_* of the delivered mosaic */
} KvCamFrame;

/* Completion callback: `user` and `userData` as given to KvCam_QueueFrame, `error` the frame's
 * result (also in the descriptor's errorCode), `flags` the event (KVCAM_CALLBACK_ON_COMPLETION).
 * Runs on the camera's thread; the descriptor and buffer belong to the caller again once it
 * has been called. */
typedef void (*KvCamFrameCallback)(void* user, uintptr_t userData, int32_t error, uint32_t flags);

/* ---- Driver and cameras -------------------------------------------------------------------- */

/* Loads the driver and builds its cameras from the description. KVCAM_ERR_ALREADY_LOADED when
 * it is loaded already (it stays loaded and usable); KVCAM_ERR_NO_CAMERA when the description
 * cannot be read or is refused (the simulated camera's KvCamSim_LastError says why). */
KVCAM_API int32_t KvCam_LoadDriver(void);
/* Closes every open camera (pending frames complete as aborted) and unloads the driver. */
KVCAM_API int32_t KvCam_ReleaseDriver(void);
/* Lists cameras: *count is the room in `list` on entry and the number of cameras found on
 * return (which may exceed the room; only the room is written). */
KVCAM_API int32_t KvCam_ListCameras(KvCamCameraInfo* list, uint32_t* count);
KVCAM_API int32_t KvCam_OpenCamera(uint32_t cameraId, KvCamHandle* handle);
/* Aborts pending frames, stops the camera's thread and invalidates the handle. */
KVCAM_API int32_t KvCam_CloseCamera(KvCamHandle handle);
/* Driver version; works without loading. */
KVCAM_API int32_t KvCam_Version(uint16_t* major, uint16_t* minor);
KVCAM_API int32_t KvCam_GetInfo(KvCamHandle handle, uint32_t infoId, int32_t* value);
/* A text about an open camera, zero-terminated and cut to fit `size` bytes (at least 1). */
KVCAM_API int32_t KvCam_GetText(KvCamHandle handle, uint32_t textId, char* text, uint32_t size);
/* KVCAM_OK when the camera has the parameter, KVCAM_ERR_NOT_SUPPORTED when not. */
KVCAM_API int32_t KvCam_IsParamSupported(KvCamHandle handle, uint32_t paramId);

/* ---- Settings block ------------------------------------------------------------------------ */

/* Fills the block with the camera's current settings. */
KVCAM_API int32_t KvCam_ReadSettingsFromCam(KvCamHandle handle, KvCamSettings* settings);
/* Fills the block with the camera's factory defaults. */
KVCAM_API int32_t KvCam_ReadDefaultSettings(KvCamHandle handle, KvCamSettings* settings);
/* Changes one parameter in the block only. The stored value is the one the camera will use
 * (exposure clamped to its limits and rounded to its quantum); values outside a parameter's
 * limits or table are refused with KVCAM_ERR_OUT_OF_RANGE. */
KVCAM_API int32_t KvCam_SetParam(KvCamSettings* settings, uint32_t paramId, int32_t value);
KVCAM_API int32_t KvCam_GetParam(const KvCamSettings* settings, uint32_t paramId, int32_t* value);
/* Limits of a parameter; region limits follow the block's binning. */
KVCAM_API int32_t KvCam_GetParamMin(const KvCamSettings* settings, uint32_t paramId,
                                    int32_t* value);
KVCAM_API int32_t KvCam_GetParamMax(const KvCamSettings* settings, uint32_t paramId,
                                    int32_t* value);
/* KVCAM_OK when the parameter takes values from a sparse table (a range), otherwise
 * KVCAM_ERR_NOT_THIS_KIND. */
KVCAM_API int32_t KvCam_IsSparseTable(const KvCamSettings* settings, uint32_t paramId);
KVCAM_API int32_t KvCam_IsRangeTable(const KvCamSettings* settings, uint32_t paramId);
/* Copies a sparse table: *count is the room on entry and the table's length on return. */
KVCAM_API int32_t KvCam_GetParamSparseTable(const KvCamSettings* settings, uint32_t paramId,
                                            int32_t* table, uint32_t* count);
/* Sends the block to the camera. The camera fits the region to the sensor at the block's
 * binning and writes what it accepted back into the block, so KvCam_GetParam afterwards
 * reads the region in use. Frames started after the send use the new settings. A block whose
 * other values this camera could not have set (one filled for another camera, say) is
 * refused with KVCAM_ERR_BAD_SETTINGS and changes nothing. */
KVCAM_API int32_t KvCam_SendSettingsToCam(KvCamHandle handle, KvCamSettings* settings);

/* ---- Frames -------------------------------------------------------------------------------- */

/* Streaming on lets queued frames run; off holds them (a frame in progress finishes). */
KVCAM_API int32_t KvCam_SetStreaming(KvCamHandle handle, int32_t on);
/* Queues a frame for capture into frame->buffer. Frames are filled in queue order on the
 * camera's thread; each completes once through `callback`. `flags` must be
 * KVCAM_CALLBACK_ON_COMPLETION. Buffer and size are taken at this call; the descriptor is
 * written when the frame completes and must stay valid until then. */
KVCAM_API int32_t KvCam_QueueFrame(KvCamHandle handle, KvCamFrame* frame,
                                   KvCamFrameCallback callback, uint32_t flags, void* user,
                                   uintptr_t userData);
/* Captures one frame and waits for it (streaming not needed). The frame must start within the
 * camera's grab time-out, counted from this call: that covers waiting behind queued frames and,
 * in trigger modes, for the trigger. Otherwise it returns KVCAM_ERR_TIMEOUT and the frame is
 * withdrawn: the driver does not touch the buffer after the call returns. Once started, the
 * frame takes its exposure and readout, however long. Abort and close end it with
 * KVCAM_ERR_ABORTED. */
KVCAM_API int32_t KvCam_GrabFrame(KvCamHandle handle, KvCamFrame* frame);
/* Cancels every pending frame and the one in progress; their callbacks report
 * KVCAM_ERR_ABORTED. When called outside a callback it returns after those callbacks ran, so
 * the buffers may be reused at once. Also clears latched triggers. */
KVCAM_API int32_t KvCam_Abort(KvCamHandle handle);
/* Software trigger: starts one frame in trigger type 5 (latched when no frame waits). */
KVCAM_API int32_t KvCam_Trigger(KvCamHandle handle);

/* ---- Image helpers ------------------------------------------------------------------------- */

/* Byte size of a width x height image of the given format; 0 for an unknown format or a size
 * that does not fit in 32 bits. */
KVCAM_API uint32_t KvCam_CalcImageSize(uint32_t format, uint32_t width, uint32_t height);
/* Demosaics an 8-bit mosaic (format 4; format 2 is taken as a mosaic of in->bayerPattern) into
 * 24-bit colour (out->format 8, blue-green-red bytes). Fills out's width, height, bit depth,
 * frame number and time stamp. A pattern of KVCAM_BAYER_NONE gives grey. */
KVCAM_API int32_t KvCam_BayerToRgb(uint32_t method, const KvCamFrame* in, KvCamFrame* out);

#ifdef __cplusplus
}
#endif

#endif /* KVCAM_KVCAM_H */
