// The pixels Auto Align's analyses must ignore (255 in the masks): what the
// camera draws over its pictures rather than what the lenses see.
//  - Pixels that change between two pictures of one channel taken while
//    nothing about the camera changed: the OSD's frame counter (and clock).
//    Noise alone stays below the threshold, which follows the noise level.
//    Each changed spot is grown along its text line to the white text around
//    it, so that the static label beside the counter goes too.
//  - Near-white pixels at the same place in both channels: the OSD text,
//    which the camera draws identically on both (the scene almost never is
//    saturated at the same pixels of both lenses).
//  - A border of a few pixels, where the picture's edge and any black frame
//    of the stream would pass for structure.
// A text line that changes nowhere and is not white in channel 2 is not
// caught; the structure check leaves white text out on its own as well.
#ifndef OSDMASK_H
#define OSDMASK_H

#include <opencv2/core.hpp>

class OsdMask
{
public:
    struct Pictures
    {
        // Two pictures of each channel taken without a change to the camera
        // in between (fusion in the same state); channel 2 may be empty.
        cv::Mat channel1First, channel1Second;
        cv::Mat channel2First, channel2Second;
        int border = 4;
    };

    struct Masks
    {
        cv::Mat channel1, channel2; // CV_8U, 255 = ignore
        int changedPixels1 = 0, changedPixels2 = 0;
        int sharedTextPixels = 0;
        bool valid = false; // false when the pictures are missing or sizes differ
    };

    static Masks build(const Pictures &pictures);
};

#endif // OSDMASK_H
