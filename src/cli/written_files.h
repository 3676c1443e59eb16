#pragma once
// The files a run writes besides talking to its ports: the trace, the logs
// and summary.csv. None of them may be the image or one of the ports under
// another name (a hard link, a symbolic link, the same path spelled
// otherwise): writing the trace over the image would destroy it, and would
// then send the trace as the image.

#include <string>
#include <vector>

namespace vq::cli {

struct WrittenFiles {
    std::string image;                       // the file to send
    std::string trace;                       // empty for none
    std::string log_dir;                     // empty for none
    std::vector<std::string> port_devices;  // what each port opens
};

// The same file, however it is named: the same device and inode (on
// Windows, the same volume and file index), ports included. A name that
// leads nowhere is no file at all.
bool same_file(const std::string& a, const std::string& b);

// A usage error that names both files when one that would be written is the
// image or a port; empty when none is. Nothing is opened or created.
std::string clash_of_written_files(const WrittenFiles& files);

// Why two of the ports given, `names[i]` leading to `devices[i]`, cannot
// both be sent to: they are one device, by the same name or by a link.
// Empty when each is a device of its own.
std::string same_device_twice(const std::vector<std::string>& names, const std::vector<std::string>& devices);

}  // namespace vq::cli
