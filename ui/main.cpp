#include "app.h"
#include "codec_worker.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    if (ServeAsCodecWorker()) return 0;
    return RunVorandel(instance, showCommand);
}
