// The device table: one snapshot of the server's sources, ordered as the devices are numbered.
#include "device_table.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "audio_format.h"
#include "pulse_connection.h"
#include "text_conversion.h"

namespace {

constexpr DWORD kWaveFormat4S16 = 0x00000800;  // 44.1 kHz, stereo, 16-bit

struct SourceEntry {
    std::string name;
    std::string description;
    bool monitor;  // records what a sink plays
};

std::mutex g_tableMutex;
std::vector<SourceEntry> g_table;
bool g_tableTaken = false;

struct SourceRecord {
    uint32_t index;
    SourceEntry entry;
};

// Asks the server for its sources, ordered as the device numbers go: the default source,
// then the other sources, then the monitors, each group by the server's index. false with
// error set when the server cannot be asked.
bool QuerySources(std::vector<SourceEntry>& table, std::string& error) {
    PulseConnection connection;
    if (!connection.Connect(kConnectLimit)) {
        error = connection.Error();
        return false;
    }

    struct Query {
        PulseConnection* connection;
        std::string defaultName;
        std::vector<SourceRecord> sources;
        int pending = 2;
        bool failed = false;
    } query{&connection, {}, {}};

    connection.Lock();
    // Mainloop thread: the server's answer, with the name of its default source.
    pa_operation* server = pa_context_get_server_info(
        connection.Context(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* q = static_cast<Query*>(userdata);
            if (info != nullptr && info->default_source_name != nullptr)
                q->defaultName = info->default_source_name;
            --q->pending;
            q->connection->Signal();
        },
        &query);
    // Mainloop thread: once per source, then once with eol set.
    pa_operation* sources = pa_context_get_source_info_list(
        connection.Context(),
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
            auto* q = static_cast<Query*>(userdata);
            if (eol != 0) {
                if (eol < 0)
                    q->failed = true;
                --q->pending;
                q->connection->Signal();
                return;
            }
            q->sources.push_back({info->index,
                                  {info->name, info->description != nullptr ? info->description : info->name,
                                   info->monitor_of_sink != PA_INVALID_INDEX}});
        },
        &query);
    bool answered = false;
    if (server == nullptr || sources == nullptr) {
        connection.TakeServerError();
    } else {
        answered = connection.WaitFor([&query] { return query.pending == 0 || query.failed; });
        if (answered && query.failed) {
            connection.TakeServerError();
            answered = false;
        }
    }
    // An unanswered operation keeps a pointer to query: cancel it before query goes.
    for (pa_operation* operation : {server, sources}) {
        if (operation == nullptr)
            continue;
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    connection.Unlock();
    if (!answered) {
        error = connection.Error();
        return false;
    }

    std::sort(query.sources.begin(), query.sources.end(),
              [](const SourceRecord& a, const SourceRecord& b) { return a.index < b.index; });
    table.clear();
    for (int pass = 0; pass < 3; ++pass) {
        for (const SourceRecord& source : query.sources) {
            const bool isDefault = source.entry.name == query.defaultName;
            const bool belongs = pass == 0 ? isDefault : !isDefault && source.entry.monitor == (pass == 2);
            if (belongs)
                table.push_back(source.entry);
        }
    }
    return true;
}

// The entry of device number, or none when the snapshot has no such device.
std::optional<SourceEntry> EntryAt(size_t number) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (number >= g_table.size())
        return std::nullopt;
    return g_table[number];
}

}  // namespace

size_t RefreshDeviceTable(std::string& error) {
    std::vector<SourceEntry> table;
    QuerySources(table, error);  // an unreachable server leaves table empty
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_table = std::move(table);
    g_tableTaken = true;
    return g_table.size();
}

MMRESULT DescribeDevice(UINT_PTR number, WAVEINCAPSW& caps) {
    const std::optional<SourceEntry> entry = EntryAt(number);
    if (!entry)
        return MMSYSERR_BADDEVICEID;
    std::memset(&caps, 0, sizeof(caps));
    const std::wstring name = FromUtf8(entry->description);
    const size_t length = std::min<size_t>(name.size(), MAXPNAMELEN - 1);
    std::copy_n(name.begin(), length, caps.szPname);
    caps.dwFormats = kWaveFormat4S16;
    caps.wChannels = kAudioChannels;
    return MMSYSERR_NOERROR;
}

MMRESULT DeviceSource(UINT number, std::string& source, std::string& error) {
    bool taken;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        taken = g_tableTaken;
    }
    std::string refreshError;
    if (!taken && RefreshDeviceTable(refreshError) == 0 && !refreshError.empty()) {
        error = refreshError;
        return MMSYSERR_NODRIVER;
    }
    const std::optional<SourceEntry> entry = EntryAt(number);
    if (!entry) {
        error = "No such input device";
        return MMSYSERR_BADDEVICEID;
    }
    source = entry->name;
    return MMSYSERR_NOERROR;
}

bool SourceIsMonitor(const std::string& source) {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    return std::any_of(g_table.begin(), g_table.end(),
                       [&source](const SourceEntry& entry) { return entry.monitor && entry.name == source; });
}
