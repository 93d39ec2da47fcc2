// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace host {

// The memory the host publishes its records in: a POSIX shared-memory object
// "/NAME" that readers map read-only, or, without a name, memory of the
// host's own. Whoever holds the lock of "/NAME.lock" owns the name: the
// kernel drops the lock of a host that dies, and two hosts taking over a
// name at once cannot both get it.
class ViewObject {
public:
    ~ViewObject();
    ViewObject(const ViewObject&) = delete;
    ViewObject& operator=(const ViewObject&) = delete;

    // `object` is "/NAME", or "" for memory of the host's own. An object
    // left under the name by a host of ours that ended is reused (its
    // readers keep their mapping); one of another layout of ours is made
    // again; anything else is refused, saying what is there. For this user
    // alone (0600), or readable by `group` too (0640). Null with `error` set.
    static std::unique_ptr<ViewObject> open(const std::string& object, std::size_t size, std::uint32_t magic,
                                            std::uint32_t version, const std::string& group, std::string& error);

    void* memory() const { return memory_; }
    std::size_t size() const { return size_; }
    // True when the object was a predecessor's, with its contents.
    bool reused() const { return reused_; }
    const std::string& name() const { return name_; }
    // Gives up the name and the object's; the mapping stays for threads
    // that may still write it.
    void release();

private:
    ViewObject() = default;
    bool takeName(const std::string& object, std::string& error);
    bool openObject(const std::string& object, std::uint32_t magic, std::uint32_t version, const std::string& group,
                    std::string& error);

    std::string name_;
    void* memory_ = nullptr;
    std::size_t size_ = 0;
    bool reused_ = false;
    int lockFd_ = -1;
    std::string lockName_;
};

}  // namespace host
