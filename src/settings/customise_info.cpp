// The customise info store: the key=value settings of "~/sys/general.cfg", read at
// the first lookup into one string pool and a table of offsets into it, and kept
// until ext_FreeInfo.
//
// Lines are read as internal/line_reader.h has it; a NUL byte ends a line's text,
// whatever the same read brought after it is ignored, and lines without "=" or
// with an empty key are skipped too.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <span>

#include "hv_ext.h"
#include "internal/line_reader.h"
#include "internal/mutex_set.h"
#include "internal/owned_file.h"
#include "internal/path_buffer.h"
#include "internal/scoped_lock.h"
#include "sxl.h"

namespace hv::settings {
namespace {

constexpr char kSettingsName[] = "~/sys/general.cfg";
constexpr int kTableStep = 4;
// The pool grows by kPoolStep bytes, or by the string and two bytes when the
// string is at least kLongString characters long.
constexpr std::size_t kPoolStep = 128;
constexpr std::size_t kLongString = 127;

// Offsets rather than pointers, so that entries survive the pool moving when it
// grows. Offset 0 is the pool's leading NUL and names no string.
struct Entry {
    std::int32_t key;
    std::int32_t value;
};
static_assert(sizeof(Entry) == 8);

// Offsets are 32-bit, and a table's size in bytes must fit size_t on i386 too.
constexpr std::size_t kMaxPool = INT32_MAX;
constexpr int kMaxEntries =
    static_cast<int>(std::min<std::size_t>(INT_MAX, SIZE_MAX / sizeof(Entry)));

enum class State {
    // No table. The pool is empty, or keeps the strings of a load whose table could
    // not grow: the next lookup loads the file again, appending to them.
    kUnloaded,
    // The table, whole or as far as the file could be read, answers every lookup
    // until ext_FreeInfo: a missing file is remembered like any content.
    kLoaded,
    // Loaded, but the pool failed to grow and is gone: g_no_pool stands for it, and
    // nothing is found until ext_FreeInfo.
    kOutOfMemory,
};

struct Table {
    Entry *entries;
    int capacity;
    int count;
};

struct Pool {
    char *text;
    int capacity;
    int used;
};

// Guarded by g_mutex.
struct Store {
    State state;
    Table table;
    Pool pool;
};

// The store's own mutex, apart from the library mutex set.
constinit MutexSet<1> g_mutex;
constinit Store g_store = {};
// The pool after it failed to grow: never freed, never written.
constinit char g_no_pool[1] = {};

void create_mutex() { g_mutex.create_all(); }

pthread_mutex_t &store_mutex() { return g_mutex.get(0, create_mutex); }

bool enter_out_of_memory() {
    g_store.pool.text = g_no_pool;
    g_store.state = State::kOutOfMemory;
    return false;
}

// Room for a string of this length; on failure the store is out of memory and the
// old pool, which nothing can reach any more, is released.
bool grow_pool(std::size_t length) {
    const std::size_t step = length < kLongString ? kPoolStep : length + 2;
    Pool &pool = g_store.pool;
    const auto capacity = static_cast<std::size_t>(pool.capacity);
    char *grown = nullptr;
    if (step <= kMaxPool - capacity) {
        grown = static_cast<char *>(pool.text == nullptr ? sxl_malloc(capacity + step)
                                                         : sxl_realloc(pool.text, capacity + step));
    }
    if (grown == nullptr) {
        if (pool.text != nullptr) sxl_free(pool.text);
        return enter_out_of_memory();
    }
    if (pool.text == nullptr) {
        grown[0] = '\0';
        pool.used = 1;
    }
    pool.text = grown;
    pool.capacity = static_cast<int>(capacity + step);
    return true;
}

// Copies text and its NUL into the pool: its offset, or 0 when the pool cannot
// take it. A string that would exactly fill the pool makes it grow first.
std::int32_t pool_append(const char *text) {
    if (g_store.state == State::kOutOfMemory) return 0;
    Pool &pool = g_store.pool;
    const std::size_t length = std::strlen(text);
    const auto used = static_cast<std::size_t>(pool.used);
    if (pool.text == nullptr || used + length + 1 >= static_cast<std::size_t>(pool.capacity)) {
        if (!grow_pool(length)) return 0;
    }
    const std::int32_t offset = pool.used;
    std::memcpy(pool.text + offset, text, length + 1);
    pool.used = offset + static_cast<std::int32_t>(length + 1);
    return offset;
}

// A new, empty table: from here the store counts as loaded.
bool allocate_table() {
    auto *entries = static_cast<Entry *>(sxl_malloc(kTableStep * sizeof(Entry)));
    if (entries == nullptr) return false;
    g_store.table = {entries, kTableStep, 0};
    g_store.state = State::kLoaded;
    return true;
}

// Room for one more entry. A table that cannot grow is dropped, and the store is
// unloaded again with the pool it has.
bool make_room() {
    Table &table = g_store.table;
    if (table.count < table.capacity) return true;
    Entry *grown = nullptr;
    if (table.capacity <= kMaxEntries - kTableStep) {
        const auto size = static_cast<std::size_t>(table.capacity + kTableStep) * sizeof(Entry);
        grown = static_cast<Entry *>(sxl_realloc(table.entries, size));
    }
    if (grown == nullptr) {
        sxl_free(table.entries);
        table = {};
        g_store.state = State::kUnloaded;
        return false;
    }
    table.entries = grown;
    table.capacity += kTableStep;
    return true;
}

// Fills the table from the file; false when it could not be read whole, and the
// lookup that asked finds nothing.
bool load() {
    if (!allocate_table()) return false;
    char path[kPathMax];
    if (ext_GetActualFName(kSettingsName, path) == nullptr) return false;
    OwnedFile file(sxl_fopen(path, "r"));
    if (!file) return false;
    lines::LineBuffer line;
    while (char *text = lines::next_text<sxl_fgets>(file.get(), line)) {
        lines::Setting setting;
        if (!lines::split_setting(text, setting)) continue;
        if (!make_room()) return false;
        lines::spaces_for_underscores(setting.value);
        // The count grows only once both strings are in: a half entry stays unseen.
        Entry &entry = g_store.table.entries[g_store.table.count];
        entry.key = pool_append(setting.key);
        if (entry.key == 0) return false;
        entry.value = pool_append(setting.value);
        if (entry.value == 0) return false;
        ++g_store.table.count;
    }
    return true;
}

// The last entry with this key, so that the last of duplicates wins.
const Entry *find(const char *key) {
    const Table &table = g_store.table;
    const std::span<const Entry> entries(table.entries, static_cast<std::size_t>(table.count));
    const char *pool = g_store.pool.text;
    const auto found = std::find_if(
        entries.rbegin(), entries.rend(),
        [key, pool](const Entry &entry) { return std::strcmp(pool + entry.key, key) == 0; });
    return found == entries.rend() ? nullptr : &*found;
}

}  // namespace
}  // namespace hv::settings

using namespace hv;
using namespace hv::settings;

extern "C" int ext_GetCustomiseInfo(const char *key, char **value) noexcept {
    if (key == nullptr || value == nullptr) return 0;
    ScopedLock lock(store_mutex());
    if (g_store.state == State::kUnloaded && !load()) return 0;
    // Entries stored before the pool failed point into a pool that is gone.
    if (g_store.state == State::kOutOfMemory) return 0;
    const Entry *entry = find(key);
    if (entry == nullptr) return 0;
    *value = g_store.pool.text + entry->value;
    return 1;
}

extern "C" void ext_FreeInfo(void) noexcept {
    ScopedLock lock(store_mutex());
    if (g_store.state == State::kUnloaded) return;
    sxl_free(g_store.table.entries);
    if (g_store.state != State::kOutOfMemory) sxl_free(g_store.pool.text);
    g_store = Store{};
}
