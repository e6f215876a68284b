#pragma once

namespace dorvane {

// How far a save makes sure of the new file once it has succeeded.
enum class Durability {
    // Every process sees the old file or the new one whole, however this one ends; after a power
    // loss soon after, the system may have neither on the disk yet.
    Process,
    // Also across a power loss: the new file's data reaches the disk before it is put in place,
    // and the folder's entry after. Slower by the disk's time.
    Disk,
};

} // namespace dorvane
