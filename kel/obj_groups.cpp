// The OBJ reader's groups and their spans: groups found or made by name, the
// plan's chunks and each group's span of triangles in a chunk (counting and
// filling), or its whole list (one pass), and the lists made at their size.
#include <cassert>

#include "kel/obj_reader.h"

namespace kelobj {

KelNameSlot* reserveSlot(KelNameIndex* index, const char* name, KelError* error) {
    if (!kelReserveNameSlot(index)) return kelSetMemoryError(error, 2 * index->capacity, sizeof(KelNameSlot)), nullptr;
    return kelNameSlot(index, name);
}

KelNameSlot* findOrAddGroup(KelModel* model, KelNameIndex* index, const char* name, KelError* error) {
    KelNameSlot* slot = reserveSlot(index, name, error);
    if (!slot) return nullptr;
    if (!slot->name) {
        if (!(slot->group = kelTryNewGroup(model, name))) return kelSetMemoryError(error, 1, sizeof(KelGroup)), nullptr;
        kelFillNameSlot(index, slot, slot->group->name);
    }
    return slot;
}

ChunkPlan* addChunk(Plan* plan, unsigned long long offset, size_t size, KelError* error) {
    if (!makeRoom(&plan->chunks, plan->numchunks, &plan->chunksCapacity, error)) return nullptr;
    ChunkPlan* chunk = &plan->chunks[plan->numchunks++];
    *chunk = ChunkPlan{offset, size, 0, 0, 0, 0, plan->numspans, 0, nullptr, 0, false, 0, 0, 0, 0, 0, false, true};
    return chunk;
}

// Adds a span for `group` (null: the group in force where the range
// started) to the plan's last chunk; null, with the error set, when out of
// memory.
static GroupSpan* addSpan(Plan* plan, KelGroup* group, KelError* error) {
    assert(plan->numchunks > 0);
    if (!makeRoom(&plan->spans, plan->numspans, &plan->spansCapacity, error)) return nullptr;
    GroupSpan* span = &plan->spans[plan->numspans++];
    *span = GroupSpan{group, 0, 0, 0, 0, false};
    plan->chunks[plan->numchunks - 1].numSpans++;
    return span;
}

GroupSpan* spanInChunk(Plan* plan, size_t chunk, KelNameSlot* slot, KelError* error) {
    assert(chunk + 1 == plan->numchunks);  // spans are added to the last chunk only
    if (!slot) return addSpan(plan, nullptr, error);
    size_t stamp = chunk + 1;  // slots of spans in this chunk
    if (slot->stamp != stamp) {
        if (!addSpan(plan, slot->group, error)) return nullptr;
        slot->value = plan->numspans - 1;
        slot->stamp = stamp;
    }
    assert(slot->value >= plan->chunks[chunk].firstSpan && plan->spans[slot->value].group == slot->group);
    return &plan->spans[slot->value];
}

GroupSpan* wholeListSpan(Plan* plan, KelNameSlot* slot, KelError* error) {
    if (!slot->stamp) {
        if (!makeRoom(&plan->spans, plan->numspans, &plan->spansCapacity, error)) return nullptr;
        plan->spans[plan->numspans] = GroupSpan{slot->group, 0, 0, 0, 0, false};
        slot->value = plan->numspans++;
        slot->stamp = 1;  // has its span
    }
    return &plan->spans[slot->value];
}

// --- Filling a planned chunk --------------------------------------------------------

// The stamp of a slot whose span lies in the chunk being filled.
static size_t chunkStamp(const ChunkGroups* groups) { return size_t(groups->chunk - groups->plan->chunks) + 1; }

void startChunkGroups(ChunkGroups* groups, const Plan* plan, const ChunkPlan* chunk) {
    assert(chunk->numSpans >= 1);  // the group in force where it starts
    groups->plan = plan;
    groups->chunk = chunk;
    groups->spansMet = 1;
    groups->spansIndexed = false;
}

// Notes in groups->met that the group of span `index`, in the chunk being
// filled, is met. False, with the error set, when out of memory.
static bool noteMet(ChunkGroups* groups, size_t index, KelError* error) {
    KelGroup* group = groups->plan->spans[index].group;
    KelNameSlot* slot = reserveSlot(&groups->met.index, group->name, error);
    if (!slot) return false;
    if (!slot->name) kelFillNameSlot(&groups->met.index, slot, group->name), slot->group = group;
    slot->value = index, slot->stamp = chunkStamp(groups);
    return true;
}

// A group the chunk has not named before has the chunk's next span, as the
// first pass added them in the order it met their groups; the others are
// found through groups->met, which notes the groups met once the chunk
// names one again.
GroupSpan* filledSpan(ChunkGroups* groups, const char* name, KelError* error) {
    const Plan* plan = groups->plan;
    const ChunkPlan* c = groups->chunk;
    size_t next = c->firstSpan + groups->spansMet;
    bool isNext = groups->spansMet < c->numSpans && strcmp(plan->spans[next].group->name, name) == 0;
    if (!groups->spansIndexed && !isNext) {
        for (size_t i = c->firstSpan; i < next; i++)
            if (!noteMet(groups, i, error)) return nullptr;
        groups->spansIndexed = true;
    }
    if (isNext) {
        groups->spansMet++;
        return groups->spansIndexed && !noteMet(groups, next, error) ? nullptr : &plan->spans[next];
    }
    const KelNameSlot* slot = kelNameSlot(&groups->met.index, name);
    return slot && slot->name && slot->stamp == chunkStamp(groups) ? &plan->spans[slot->value] : nullptr;
}

bool makeGroupLists(KelModel* model, Plan* plan, KelError* error) {
    for (KelGroup* g = model->groups; g; g = g->next) g->numtriangles = 0;
    for (size_t i = 0; i < plan->numspans; i++) plan->spans[i].group->numtriangles += plan->spans[i].count;
    for (KelGroup* g = model->groups; g; g = g->next) {
        if (!(g->triangles = static_cast<unsigned*>(kelTryAlloc(g->numtriangles, sizeof(unsigned)))))
            return kelSetMemoryError(error, g->numtriangles, sizeof(unsigned)), false;
        g->numtriangles = 0;
    }
    size_t triangles = 0;
    for (size_t i = 0; i < plan->numspans; i++) {
        GroupSpan& span = plan->spans[i];
        span.first = span.group->numtriangles;
        span.group->numtriangles += span.count;
        triangles += span.count;
    }
    assert(triangles == model->numtriangles);  // every counted triangle has its place in one list
    (void)triangles;
    return true;
}

}  // namespace kelobj
