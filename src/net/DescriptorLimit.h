#pragma once

// Every viewer costs two descriptors (its stream and its command socket) and the common soft
// limit of 1024 is reached at about 500 viewers; the hard limit is usually far higher.
namespace DescriptorLimit {

// Raises the soft RLIMIT_NOFILE to the hard limit and logs both. Returns the soft limit in force
// afterwards, or -1 when it could not be read.
long raiseToHardLimit();

} // namespace DescriptorLimit
