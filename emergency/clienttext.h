#pragma once
// What the emergency command tells the operator (or the relay's log) on
// standard error, in one place. Plain C++: the small command links no Qt.
#include <string>
#include <sys/types.h>

namespace clienttext {

inline const char *const kUsage = "用法：daling --emergency [声音文件] [--zones 分区1,分区2]\n"
                                  "      daling --emergency-stop";

// No copy holds the data folder (or none answered).
inline const char *const kNotRunningStart = "铃声系统没有运行（或没有回答），紧急广播没有开始。";
inline const char *const kNotRunningStop = "铃声系统没有运行（或没有回答），没有紧急广播可以结束。";
// After a reason why the running copy was not reached.
inline const char *const kNotStarted = "，紧急广播没有开始。";
inline const char *const kNotStopped = "，紧急广播没有结束。";

// The engine's answer while it is still starting (EngineApi::kStarting):
// the command that started it asks again.
inline const char *const kEngineStarting = "铃声系统还在启动，请稍后再试。";
inline std::string engineNotStarted(const std::string &path, const std::string &why)
{
    return "铃声系统没有运行，启动 " + path + " 失败（" + why + "）";
}
inline std::string engineEnded(pid_t pid, const std::string &how)
{
    return "铃声系统没有运行；启动的 dalingd（进程 " + std::to_string(pid) + "）" + how
        + "（原因见系统日志：journalctl -t dalingd）";
}
inline std::string engineSilent(pid_t pid, int seconds)
{
    return "铃声系统没有运行；启动的 dalingd（进程 " + std::to_string(pid) + "）在 " + std::to_string(seconds)
        + " 秒内没有打开命令通道";
}

inline const char *const kOldProgram = "运行中的铃声系统不支持紧急广播命令，请先更新它。";
inline std::string unreadableAnswer(const std::string &reply) { return "铃声系统的回答看不懂：" + reply; }

inline std::string lockUnreadable(const std::string &path, const std::string &why)
{
    return "读不了数据文件夹的锁文件 " + path + "（" + why + "）";
}
// A read lock: anyone who may read the file can take one; the engine takes a write lock.
inline std::string lockNotAnEngine(pid_t pid, const std::string &user)
{
    return "数据文件夹的锁被进程 " + std::to_string(pid) + "（用户「" + user + "」）占着，但它不是铃声系统";
}
inline std::string holderUnknown(pid_t pid)
{
    return "查不到占着数据文件夹的进程 " + std::to_string(pid) + " 属于哪个用户";
}
inline std::string notAllowed(const std::string &holder)
{
    return "铃声系统正由用户「" + holder + "」运行，紧急广播命令只能由该用户或 root 发出";
}
inline std::string ownedByOther(const std::string &path, const std::string &owner, const std::string &holder)
{
    return path + " 属于用户「" + owner + "」，不是运行铃声系统的用户「" + holder + "」，不能相信它的回答";
}
inline std::string openToOthers(const std::string &path)
{
    return path + " 别的用户也能改动，不能相信它的回答";
}
inline std::string isLink(const std::string &path) { return path + " 是符号链接，不能相信它的回答"; }
inline std::string notASocket(const std::string &path) { return path + " 不是命令通道"; }
inline std::string peerNotHolder(const std::string &path, pid_t peer, const std::string &peerUser, pid_t holder)
{
    return "命令通道 " + path + " 另一端是进程 " + std::to_string(peer) + "（用户「" + peerUser
        + "」），不是运行铃声系统的进程 " + std::to_string(holder) + "，不能相信它的回答";
}
inline std::string noChannel(pid_t pid, const std::string &holder)
{
    return "找不到运行铃声系统的进程 " + std::to_string(pid) + "（用户「" + holder + "」）的命令通道";
}
inline std::string holderSilent(pid_t pid, const std::string &holder)
{
    return "运行铃声系统的进程 " + std::to_string(pid) + "（用户「" + holder + "」）没有回答";
}
inline const char *const kHolderChanged = "铃声系统在连接时退出或换了进程";

} // namespace clienttext
