/* A consumer of the installed C APIs: opens the simulated camera, grabs a frame into an image
 * of the store, and checks that the store took it. Exits non-zero on any failure. */
#include <bxmm/mm40.h>
#include <kvcam/kvcam.h>
#include <stdio.h>

int main(void) {
    KvCamCameraInfo list[1];
    uint32_t count = 1;
    KvCamHandle camera = 0;
    if (KvCam_LoadDriver() != KVCAM_OK || KvCam_ListCameras(list, &count) != KVCAM_OK ||
        count == 0 || KvCam_OpenCamera(list[0].cameraId, &camera) != KVCAM_OK) {
        fprintf(stderr, "no camera\n");
        return 1;
    }
    int32_t width = 0, height = 0, bytes = 0;
    KvCam_GetInfo(camera, KVCAM_INFO_IMAGE_WIDTH, &width);
    KvCam_GetInfo(camera, KVCAM_INFO_IMAGE_HEIGHT, &height);
    KvCam_GetInfo(camera, KVCAM_INFO_IMAGE_SIZE, &bytes);
    MM_HANDLE image = MM_CreateImage(width, height, MM_TYPE_GREY16, 256);
    MM_VECTOR index;
    MM_InitVector(&index, 0);
    MM_LEAF leaf = MM_GetData(image, index);
    void* pixels = MM_Lock(leaf, 0);
    if (pixels == NULL || MM_GetFrameBytes(image) < bytes) {
        fprintf(stderr, "no frame in the store\n");
        return 1;
    }
    KvCamFrame frame = {0};
    frame.buffer = pixels;
    frame.bufferSize = (uint32_t)bytes;
    const int32_t grabbed = KvCam_GrabFrame(camera, &frame);
    MM_Unlock(leaf, 1);
    KvCam_CloseCamera(camera);
    KvCam_ReleaseDriver();
    if (grabbed != KVCAM_OK) {
        fprintf(stderr, "grab failed: %d\n", grabbed);
        return 1;
    }
    printf("consumer: %d x %d frame grabbed into image %u\n", width, height, image);
    return 0;
}
