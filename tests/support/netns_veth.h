#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zrq406::testsupport {

// A veth pair whose peer end lives in a network namespace of its own, both ends up; made for one test or
// benchmark run (names carry the process id) and removed again on destruction.
class NetnsVeth {
public:
    // The pair, or nullptr with `reason` saying why it could not be made (not root, no namespaces, no veth).
    static std::unique_ptr<NetnsVeth> create(std::string& reason);
    ~NetnsVeth();
    NetnsVeth(const NetnsVeth&) = delete;
    NetnsVeth& operator=(const NetnsVeth&) = delete;

    const std::string& namespaceName() const { return m_namespace; }
    // The end that stays in the caller's namespace.
    const std::string& hostEnd() const { return m_hostEnd; }
    // The end inside the namespace.
    const std::string& peerEnd() const { return m_peerEnd; }

    // Moves the calling process into the namespace, with a /sys of its own that lists the namespace's
    // interfaces (as `ip netns exec` does). Meant for a forked child; false with `error` set on failure.
    bool enter(std::string& error) const;

    // Runs a command without a shell; true when it exits with 0. Its output and errors go to `output`.
    static bool run(const std::vector<std::string>& command, std::string& output);

private:
    NetnsVeth() = default;
    std::string m_namespace;
    std::string m_hostEnd;
    std::string m_peerEnd;
    bool m_namespaceMade = false;
    bool m_pairMade = false;
};

} // namespace zrq406::testsupport
