// Final report counting.
#include "finalreport.h"

#include <map>
#include <tuple>

#include "details.h"

namespace shell {

std::string FindProcessCommandLine(const TraceRecords& records, uint32_t pid) {
    for (const RecInfo& r : records.AllRecords())
        if (r.RecType == kRecordLoad && r.PID == pid) return r.MethodName;
    return std::string();
}

namespace {

std::string ProcessText(uint32_t pid, const std::string& commandLine) {
    if (pid > 65536) return "ProcessID=FF" + Hex(pid) + "h (" + commandLine + ")";
    return "ProcessID=" + std::to_string(pid) + "(" + Hex(pid) + "h) (" + commandLine + ")";
}

// Spelled as the report has always spelled it.
std::string ThreadText(uint32_t pid, uint32_t tid) {
    if (pid > 65536) return "TreadID=FF" + Hex(tid) + "h";
    return "TreadID=" + std::to_string(tid) + "(" + Hex(tid) + "h)";
}

const char kCreatedPrefix[] = "Number of created instances: ";
const char kAlivePrefix[] = "Number of undestroyed instances: ";

struct ClassCounts {
    size_t createdNode;  // positions in the node list
    size_t aliveNode;
    long created = 0;
    long alive = 0;
};

}  // namespace

std::vector<ReportNode> BuildFinalReportView(const TraceRecords& records) {
    std::vector<ReportNode> nodes;
    std::map<uint32_t, std::string> processKeys;
    std::map<std::pair<uint32_t, uint32_t>, std::string> threadKeys;
    std::map<std::tuple<uint32_t, uint32_t, std::string>, ClassCounts> classes;

    for (int32_t num : records.InstanceRecords()) {
        const RecInfo* r = records.Record(num);
        if (!r) continue;
        auto process = processKeys.find(r->PID);
        if (process == processKeys.end()) {
            std::string key = "N_" + std::to_string(r->PID);
            nodes.push_back({key, "", ProcessText(r->PID, FindProcessCommandLine(records, r->PID))});
            process = processKeys.emplace(r->PID, key).first;
        }
        auto thread = threadKeys.find({r->PID, r->TID});
        if (thread == threadKeys.end()) {
            std::string key = process->second + "_" + std::to_string(r->TID);
            nodes.push_back({key, process->second, ThreadText(r->PID, r->TID)});
            thread = threadKeys.emplace(std::make_pair(r->PID, r->TID), key).first;
        }
        auto cls = classes.find({r->PID, r->TID, r->ClassName});
        if (cls == classes.end()) {
            std::string key = thread->second + "_" + r->ClassName;
            nodes.push_back({key, thread->second, "Class: " + r->ClassName});
            ClassCounts counts;
            counts.createdNode = nodes.size();
            nodes.push_back({key + "_CRT", key, ""});
            counts.aliveNode = nodes.size();
            nodes.push_back({key + "_LEFT", key, ""});
            cls = classes.emplace(std::make_tuple(r->PID, r->TID, r->ClassName), counts).first;
        }
        ClassCounts& c = cls->second;
        if (r->RecType == kRecordCreate) {
            ++c.created;
            ++c.alive;
        } else if (c.alive > 0) {
            --c.alive;
        }
    }
    for (const auto& [id, c] : classes) {
        nodes[c.createdNode].Text = kCreatedPrefix + std::to_string(c.created);
        nodes[c.aliveNode].Text = kAlivePrefix + std::to_string(c.alive);
    }
    return nodes;
}

}  // namespace shell
