// A hash index by name, which the OBJ reader keeps beside a model's list of
// groups, a plan's spans and the material table: searched one entry at a
// time, they made files of many thousands of groups or materials quadratic
// to read.
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
// slots: its own, or the empty one where it would go. Names are compared
// only where the hashes match, so other slots' names are not read.
static KelNameSlot* probe(KelNameSlot* slots, size_t capacity, const char* name, size_t hash) {
    for (size_t i = hash & (capacity - 1);; i = (i + 1) & (capacity - 1)) {
        KelNameSlot* slot = &slots[i];
        if (!slot->name || (slot->hash == hash && strcmp(slot->name, name) == 0)) return slot;
    }
}

bool kelReserveNameSlot(KelNameIndex* index) {
    if (2 * (index->count + 1) <= index->capacity) return true;
    size_t capacity = index->capacity ? 2 * index->capacity : 64;
    KelNameSlot* slots = static_cast<KelNameSlot*>(kelTryAlloc(capacity, sizeof(KelNameSlot)));
    if (!slots) return false;
    // Written whole at once: probes read a slot before they fill it, and a
    // page first read maps the shared zero page, which the write then copies
    // (with a flush of every thread's TLB).
    memset(slots, 0, capacity * sizeof(KelNameSlot));
    for (size_t i = 0; i < index->capacity; i++) {
        const KelNameSlot& old = index->slots[i];
        if (!old.name) continue;
        size_t at = old.hash & (capacity - 1);
        while (slots[at].name) at = (at + 1) & (capacity - 1);
        slots[at] = old;
    }
    free(index->slots);
    index->slots = slots;
    index->capacity = capacity;
    return true;
}

KelNameSlot* kelNameSlot(const KelNameIndex* index, const char* name) {
    return index->capacity ? probe(index->slots, index->capacity, name, hashName(name)) : nullptr;
}

void kelFillNameSlot(KelNameIndex* index, KelNameSlot* slot, const char* name) {
    slot->name = name;
    slot->hash = hashName(name);
    index->count++;
}

void kelFreeNameIndex(KelNameIndex* index) {
    free(index->slots);
    *index = KelNameIndex{};
}
