#pragma once

// V4L2 capture devices as cameras of the listing and the probe: named by
// their driver's card name, linked by their device path, read through
// memory-mapped streaming. YUYV is converted to NV12 for cameras without it.

#include <memory>
#include <string>
#include <vector>

#include "camera/camera_device.hpp"
#include "camera/v4l2_device_linux.hpp"

namespace korvex::camera {

// Of the device nodes at `paths`, in that order, those that capture video;
// nodes that cannot be opened or asked are left out.
std::vector<CameraInfo> list_v4l2_cameras(const std::vector<std::string>& paths,
                                          const V4l2Opener& open);

// A reader of an open capture device.
std::unique_ptr<Reader> v4l2_reader(std::unique_ptr<V4l2Device> device);

// The device nodes "video{n}" in `dir`, by number.
std::vector<std::string> video_device_paths(const std::string& dir);

}  // namespace korvex::camera
