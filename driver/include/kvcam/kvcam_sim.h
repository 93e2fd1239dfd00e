/* KvCamSim: test hooks of the simulated camera behind kvcam.h.
 *
 * Tests choose the camera description, arm faults at named points of the driver, fire
 * external triggers and read the frame counters. Faults armed here add to those of the
 * description file's [faults] section (see driver/README.md).
 *
 * Thread rule: every function is thread-safe.
 */
#ifndef KVCAM_KVCAM_SIM_H
#define KVCAM_KVCAM_SIM_H

#include "kvcam.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Points where a fault can be injected. */
enum {
    KVCAMSIM_FAULT_LOAD = 1,          /* KvCam_LoadDriver; default code 7 (stays loaded) */
    KVCAMSIM_FAULT_LIST = 2,          /* KvCam_ListCameras */
    KVCAMSIM_FAULT_OPEN = 3,          /* KvCam_OpenCamera */
    KVCAMSIM_FAULT_CLOSE = 4,         /* KvCam_CloseCamera (the camera stays open) */
    KVCAMSIM_FAULT_READ_SETTINGS = 5, /* KvCam_ReadSettingsFromCam */
    KVCAMSIM_FAULT_READ_DEFAULTS = 6, /* KvCam_ReadDefaultSettings */
    KVCAMSIM_FAULT_SEND_SETTINGS = 7, /* KvCam_SendSettingsToCam */
    KVCAMSIM_FAULT_SEND_REGION = 8,   /* a send that changes the region; default code 15 */
    KVCAMSIM_FAULT_SET_PARAM = 9,     /* KvCam_SetParam; id = parameter or -1 for any */
    KVCAMSIM_FAULT_GET_INFO = 10,     /* KvCam_GetInfo; id = info id or -1 */
    KVCAMSIM_FAULT_GET_MIN = 11,      /* KvCam_GetParamMin; id = parameter or -1 */
    KVCAMSIM_FAULT_GET_MAX = 12,      /* KvCam_GetParamMax; id = parameter or -1 */
    KVCAMSIM_FAULT_GRAB = 13,         /* KvCam_GrabFrame; default code 21 */
    KVCAMSIM_FAULT_QUEUE = 14,        /* KvCam_QueueFrame refused */
    KVCAMSIM_FAULT_FRAME_ERROR = 15,  /* a queued frame completes with the code */
    KVCAMSIM_FAULT_FRAME_LOST = 16    /* a queued frame never completes (until abort/close) */
};

enum { KVCAMSIM_ALWAYS = -1, KVCAMSIM_ANY_ID = -1 };

/* Arms a fault: at `point` (for the id-specific points only calls with `id` count, or any
 * call for KVCAMSIM_ANY_ID), the first `skip` matching calls pass, then `count` calls fail
 * (KVCAMSIM_ALWAYS: every one) with `code` (0 = the point's default, KVCAM_ERR_FAILED unless
 * said above). So "the 3rd queue call is refused" is (KVCAMSIM_FAULT_QUEUE, -1, 2, 1, 0).
 * A count of 0 disarms the point for that id. Returns KVCAM_ERR_OUT_OF_RANGE for an unknown
 * point or a negative skip. */
KVCAM_API int32_t KvCamSim_SetFault(int32_t point, int32_t id, int32_t skip, int32_t count,
                                    int32_t code);
/* Disarms every fault. */
KVCAM_API void KvCamSim_ClearFaults(void);

/* Description used by the next KvCam_LoadDriver: INI text (null returns to the file named by
 * KVCAM_SIM_CONFIG, or the embedded default camera when that is unset). The text is checked
 * at once: KVCAM_ERR_OUT_OF_RANGE for an unknown section or key, a bad value or a camera that
 * cannot be (a binning factor larger than the sensor, say), and the text is not taken (the
 * previous choice stays). KvCamSim_LastError then tells what was wrong. */
KVCAM_API int32_t KvCamSim_UseDescription(const char* iniText);
/* Same, reading the text from a file (KVCAM_ERR_NO_CAMERA when it cannot be read). */
KVCAM_API int32_t KvCamSim_UseDescriptionFile(const char* path);
/* Text of the last description problem, "" when none; valid in the calling thread until its
 * next call here. A refused description reads
 *     "<origin>:<line>: [<section>] <key>: <what is wrong>"
 * where origin is the file's path (KvCamSim_UseDescriptionFile, or KVCAM_SIM_CONFIG for a
 * load) or "camera description" for text; a file that cannot be read, "<path>: cannot read
 * ...". Set by the two calls above and by KvCam_LoadDriver (which fails with
 * KVCAM_ERR_NO_CAMERA on a bad KVCAM_SIM_CONFIG file), so a host can show it as it stands;
 * cleared when a description is taken or a load reads its description without problem. */
KVCAM_API const char* KvCamSim_LastError(void);

/* Returns to a fresh process state: releases the driver, disarms faults, forgets the chosen
 * description and the counters. */
KVCAM_API void KvCamSim_Reset(void);

/* Fires one external trigger pulse at the camera (latched when no frame waits). */
KVCAM_API int32_t KvCamSim_FireExternalTrigger(KvCamHandle handle);

/* Frame counts of an open camera since it was opened. On a GenICam camera `failed` counts
 * incomplete buffers (missing packets, time-out, size mismatch) and `lost` the frames a
 * stream never returned before the camera was lost. */
typedef struct KvCamSimCounters {
    uint32_t completed; /* queued frames completed without error */
    uint32_t failed;    /* queued frames completed with an error other than abort */
    uint32_t aborted;   /* queued frames completed as aborted (lost ones included) */
    uint32_t lost;      /* queued frames held back by the lost-frame fault, not yet aborted */
    uint32_t pending;   /* queued frames waiting or in progress */
    uint32_t grabbed;   /* KvCam_GrabFrame calls that delivered a frame */
    uint32_t grabbing;  /* KvCam_GrabFrame calls in progress (waiting or capturing) */
    /* Stream health of a GenICam camera (always 0 on the simulated camera): */
    uint32_t underruns;       /* frames the camera sent while no buffer was queued */
    uint32_t missingFrameIds; /* gaps in the frame ids of the delivered frames */
} KvCamSimCounters;
KVCAM_API int32_t KvCamSim_GetCounters(KvCamHandle handle, KvCamSimCounters* counters);

/* Decodes the frame counter that the description's frame_counter key writes into the first
 * four pixels of each frame (one byte of the number per pixel, least significant first).
 * The counter equals the frame's frameNumber. */
KVCAM_API int32_t KvCamSim_ReadFrameCounter(const KvCamFrame* frame, uint32_t* counter);

#ifdef __cplusplus
}
#endif

#endif /* KVCAM_KVCAM_SIM_H */
