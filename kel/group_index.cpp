// A hash index of groups by name, which the OBJ reader keeps beside a
// model's list of groups and a plan's spans: searched one entry at a time,
// they made files of many thousands of groups quadratic to read.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

// FNV-1a over the name's bytes, its bits then mixed down: the low bits of
// FNV alone, which pick the slot, hardly tell names like "part1234" apart.
static size_t hashName(const char* name) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (; *name; name++) hash = (hash ^ uint8_t(*name)) * 0x100000001b3ull;
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    return size_t(hash);
}

// The slot for `name` (of hash `hash`) among `capacity` (a power of two)
// slots: its group's, or the empty one where it would go. Names are compared
// only where the hashes match, so other groups are not read.
static KelGroupSlot* probe(KelGroupSlot* slots, size_t capacity, const char* name, size_t hash) {
    for (size_t i = hash & (capacity - 1);; i = (i + 1) & (capacity - 1)) {
        KelGroupSlot* slot = &slots[i];
        if (!slot->group || (slot->hash == hash && strcmp(slot->group->name, name) == 0)) return slot;
    }
}

bool kelReserveGroupSlot(KelGroupIndex* index) {
    if (2 * (index->count + 1) <= index->capacity) return true;
    size_t capacity = index->capacity ? 2 * index->capacity : 64;
    KelGroupSlot* slots = static_cast<KelGroupSlot*>(kelTryAlloc(capacity, sizeof(KelGroupSlot)));
    if (!slots) return false;
    for (size_t i = 0; i < index->capacity; i++) {
        const KelGroupSlot& old = index->slots[i];
        if (!old.group) continue;
        size_t at = old.hash & (capacity - 1);
        while (slots[at].group) at = (at + 1) & (capacity - 1);
        slots[at] = old;
    }
    free(index->slots);
    index->slots = slots;
    index->capacity = capacity;
    return true;
}

KelGroupSlot* kelGroupSlot(const KelGroupIndex* index, const char* name) {
    if (!index->capacity) return nullptr;
    size_t hash = hashName(name);
    KelGroupSlot* slot = probe(index->slots, index->capacity, name, hash);
    slot->hash = hash;  // the name's, should the slot be filled
    return slot;
}

void kelFreeGroupIndex(KelGroupIndex* index) {
    free(index->slots);
    *index = KelGroupIndex{};
}
