/*
 * The host's multi-dimensional image store (libbx_mm40.so), C interface.
 *
 * An image has up to ten dimensions: 0 is x, 1 is y, 2 is the frame (time) index, 3 to 9 are
 * further dimensions. The pixels of one index of dimensions 2..9 form one "leaf", a separately
 * allocated block of width * height * bytes-per-pixel bytes, rows packed without padding.
 * Leaves are numbered linearly with dimension 2 varying fastest.
 *
 * Handles are 32-bit numbers drawn from one counter shared by images and leaves, so a number
 * names at most one object ever: a deleted image or dropped leaf never becomes valid again.
 * 0 always means "none".
 *
 * Thread rule: every function is thread-safe. The UI thread, a live-video thread and the
 * store's own disk writer may use the store at the same time.
 *
 * Lock rule: MM_Lock returns a pointer that stays valid until the matching MM_Unlock, even if
 * another thread deletes or resizes the image in between. Such a leaf is detached from its
 * image at once (its handle cannot be locked again) and its memory is released by the last
 * MM_Unlock.
 *
 * Whole frames: a thread that rewrites a leaf while others may look at it brackets each write
 * with MM_Lock(leaf, MM_LOCK_WRITE) and MM_Unlock. Until that unlock the leaf is write-held:
 * the host-side readers of its pixels (bx::mm::ReadFrame, CopyLockedPixels, the saves) wait,
 * so they copy the frame as it was before the write or after it, never half of each; and a
 * writer waits for the readers already copying (a copy is short) and for another thread's
 * write hold. A plain lock (flags 0) does not take part: pixels written under it alone may be
 * read half-written. A delete or resize detaches a write-held leaf as described above and
 * the writer finishes on its still-valid pointer; only a resize that copies frames into a
 * new x or y shape first waits for the write to end.
 *
 * Results: functions returning int answer non-zero on success and 0 on failure; functions
 * returning a handle or pointer answer 0 / NULL on failure. Bad input (unknown handles, null
 * pointers, out-of-range values) is always a failure, never a crash.
 */
#ifndef BXMM_MM40_H
#define BXMM_MM40_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MM_MAX_DIMS 10

/* Data type codes accepted at creation. */
#define MM_TYPE_GREY8 3  /* 1 byte per pixel */
#define MM_TYPE_GREY12 4 /* 2 bytes, 10- and 12-bit data */
#define MM_TYPE_GREY16 5 /* 2 bytes, 14- and 16-bit data */
#define MM_TYPE_BGR24 8  /* 3 bytes per pixel: blue, green, red */
#define MM_TYPE_GREY32 9 /* 4 bytes, unsigned */

typedef uint32_t MM_HANDLE; /* image handle, 0 = none */
typedef uint32_t MM_LEAF;   /* leaf (pixel block) handle, 0 = none */

/* A position or a size along every dimension. In an index, unused dimensions are 0; in a
 * size they are 1. Passed by value where the store only reads it. */
typedef struct MM_VECTOR {
    int32_t d[MM_MAX_DIMS];
} MM_VECTOR;

/* The per-frame stamp: the frame's position along every dimension (for dimension 2 the
 * acquisition time in the image's time units). A frame whose stamp was never set reads as
 * origin + resolution * index along each dimension 2..9, and 0 along x and y. */
typedef struct MM_STAMP {
    double position[MM_MAX_DIMS];
} MM_STAMP;

/* ---- Vectors ---------------------------------------------------------------------------- */

/* Sets every element of *v to fill. Does nothing for NULL. */
void MM_InitVector(MM_VECTOR* v, int32_t fill);

/* ---- Creation, validity, deletion -------------------------------------------------------- */

/* A two-dimensional image (one leaf). `flags` is reserved (callers pass 256). Pixels start
 * at zero. Returns 0 for a non-positive size, an unknown type or when memory (or disk space)
 * runs out. While a disk device is configured the image lives on the device. */
MM_HANDLE MM_CreateImage(int32_t width, int32_t height, int32_t type, int32_t flags);
/* An image of size *size (every element >= 1). */
MM_HANDLE MM_CreateNDIM_ptr(const MM_VECTOR* size, int32_t type, int32_t flags);

/* Non-zero when h names a live image or a live leaf. */
int MM_IsValidHandle(uint32_t h);
/* Non-zero when h names a live image. */
int MM_IsValidImageHandle(MM_HANDLE h);

/* Frees the image. Locked leaves stay usable until their last unlock (see the lock rule). */
int MM_DeleteImage(MM_HANDLE h);

/* ---- Header ------------------------------------------------------------------------------ */

/* Applies the default header: empty name, display range 0 .. the type's full scale, a grey
 * ramp LUT, dimension names "x", "y", "t" and empty beyond, empty units, resolution 1,
 * origin 0. The comment, the stamps and the pixels are kept. */
int MM_CopyDefHeader(MM_HANDLE h);
/* Display range: pixel values mapped to the darkest and the brightest LUT entry. */
int MM_SetMapMin(MM_HANDLE h, double value);
int MM_SetMapMax(MM_HANDLE h, double value);
/* 256 entries, each blue | green << 8 | red << 16. The store keeps its own copy. */
int MM_SetLUT(MM_HANDLE h, const int32_t* table);
int MM_SetName(MM_HANDLE h, const char* name);
/* Dimension labels; dim is 0..9. */
int MM_SetDimName(MM_HANDLE h, int16_t dim, const char* name);
int MM_SetUnits(MM_HANDLE h, int16_t dim, const char* units);
int MM_SetResolution(MM_HANDLE h, int16_t dim, double resolution);
int MM_SetOrigin(MM_HANDLE h, int16_t dim, double origin);
/* Stores the description text. `length` counts the terminating zero. At most `length` bytes
 * are read; the stored text ends at the first zero byte, and always carries one. */
int MM_WriteComment(MM_HANDLE h, const char* text, int32_t length);

/* ---- Pixels ------------------------------------------------------------------------------ */

/* The leaf of the frame at `index` (elements 0 and 1 must lie inside the frame, elements
 * 2..9 select the leaf). 0 when the image is unknown or the index is out of range. */
MM_LEAF MM_GetData(MM_HANDLE h, MM_VECTOR index);
/* MM_Lock flags: 0 is a plain lock. */
#define MM_LOCK_WRITE 1 /* also take the leaf's write hold (see "Whole frames" above) */

/* Pointer to the leaf's pixels (page-aligned when the leaf is at least a page), valid until
 * the matching MM_Unlock; locks nest. `flags` is 0 or MM_LOCK_WRITE; other bits are reserved
 * and ignored. NULL for an unknown leaf.
 * With MM_LOCK_WRITE the call also takes the leaf's write hold, first waiting while another
 * thread holds it or readers are copying the leaf; one write hold per leaf at a time. It
 * answers NULL, taking nothing, when the leaf is detached meanwhile or the calling thread
 * holds the leaf's write hold already. A thread that holds the write hold may still read the
 * leaf through the host calls itself: they do not wait for their own thread. */
void* MM_Lock(MM_LEAF leaf, int32_t flags);
/* Releases one lock. A non-zero `modified` says the pixels were written; for an image on the
 * disk device they are then written back by the last unlock. 0 when the leaf is not locked.
 * On a write-held leaf it also releases the write hold, whichever of the leaf's locks it
 * ends and whichever thread calls it: only the writer should unlock a leaf while it is
 * write-held. Waiting readers see the frame once this returns (after any write-back). */
int MM_Unlock(MM_LEAF leaf, int32_t modified);

/* ---- Stamps ------------------------------------------------------------------------------ */

/* Reads the stamp of frame `index` (linear over dimensions 2..9). */
int MM_GetStamp(MM_HANDLE h, MM_STAMP* stamp, int32_t index);
/* Sets one position of a stamp record held by the caller; dim is 0..9. */
int MM_SetStampPosition(MM_STAMP* stamp, int16_t dim, double position);
/* Stores the stamp of frame `index`. */
int MM_SetStamp(MM_HANDLE h, const MM_STAMP* stamp, int32_t index);

/* ---- Shape ------------------------------------------------------------------------------- */

/* Keeps the block [origin, origin + size) of the image. Frames inside the old image keep
 * their pixels and stamps (their leaves move without copying when x and y are unchanged);
 * new frames start at zero. Every size element must be >= 1 and every origin element >= 0.
 * A disk image can only keep or drop trailing frames. */
int MM_ResizeImage(MM_HANDLE h, MM_VECTOR origin, MM_VECTOR size);
/* Sets the size of one dimension, keeping the rest (MM_ResizeImage with origin 0). */
int MM_SetSize(MM_HANDLE h, int16_t dim, int32_t size);

/* The image's data type code (MM_TYPE_*); 0 for an unknown handle. */
int32_t MM_GetDataType(MM_HANDLE h);
/* Bytes of one frame (leaf) as it is now: width * height * bytes per pixel, rows packed.
 * Follows resizes; for a disk image it is the frame itself, not its rounded frame block
 * (MM_GetLeafSize). 0 for an unknown handle. */
int64_t MM_GetFrameBytes(MM_HANDLE h);

/* Fills *bounds with the image's size. `flags` is reserved (0). */
int MM_InitBoundaries(MM_HANDLE h, MM_VECTOR* bounds, int32_t flags);
/* Turns a linear frame number into an index vector for the given bounds: elements 0 and 1
 * are 0, dimension 2 varies fastest. A number outside the bounds answers 0 and still writes
 * an index that MM_GetData refuses, so a caller that ignores the result cannot reach a wrong
 * frame. */
int MM_CalculateIndexVector(int32_t linear, MM_VECTOR* index, const MM_VECTOR* bounds);

/* ---- Disk device --------------------------------------------------------------------------
 * When a device is configured (environment BX_MM_DISK="path:sector_bytes", or the host call
 * bx::mm::ConfigureDisk), images created from then on live on it: each image takes
 * consecutive frame blocks, each frame block a whole number of sectors. Blocks are numbered
 * in sectors from the start of the device. */

/* Non-zero while a disk device is configured. */
int MM_IsSCSIInitialised(void);
/* Id of the device holding the image, 0 for an in-memory or unknown image. */
int32_t MM_GetHandleSCSI_ID(MM_HANDLE h);
/* First block (sector number) of frame `index`; -1 when not on a device or out of range. */
int64_t MM_GetLeafOffset(MM_HANDLE h, int32_t index);
/* Bytes of one frame block (the frame rounded up to whole sectors); 0 when not on a device. */
int64_t MM_GetLeafSize(MM_HANDLE h);
/* Bytes per sector of the configured device, 0 when none. */
int32_t MM_GetDiskSectorSize(void);
/* Starts writing `bytes` bytes from `buffer` at `block` of device `id`. An aligned buffer is
 * written straight from the caller's memory and must stay untouched until MM_WaitForTransfer;
 * an unaligned one is copied first. A partial last sector is padded with zeros. Returns 0
 * when the request is refused (unknown device, null buffer, bytes <= 0, past the device). */
int MM_WriteBufferToBlockWithID(int32_t id, int64_t block, const void* buffer, int64_t bytes);
/* Waits until every write started so far is durable. Non-zero when all of them succeeded
 * since the previous wait. */
int MM_WaitForTransfer(void);

#ifdef __cplusplus
}
#endif

#endif /* BXMM_MM40_H */
