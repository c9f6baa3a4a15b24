// The OBJ reader's one pass, for a read on one thread: the input filled
// chunk by chunk in file order into tables that grow as they fill, so it is
// read once and nothing is counted first. What one pass cannot read as two
// would (TwoPassReason) makes it give up; an error it meets is the read's.
#include <cassert>

#include "kel/obj_reader.h"

namespace kelobj {
namespace {

// Fills the input's chunks in file order; ONE_PASS_READ when all are filled.
OnePassEnd fillInput(FillReader& r, Progress* progress, ChunkWatch* watch, Plan* plan) {
    KelChunks* input = r.chunks;
    KelError* error = r.error;
    while (kelNextChunk(input)) {
        // Where each chunk lies, to find its usemtl statements again for
        // their messages.
        if (!(r.current = addChunk(plan, input->offset, input->split, error))) return ONE_PASS_FAILED;
        r.begin = input->data + input->start;
        r.end = input->data + input->split;
        fillStatements(&r);
        // An error met is the read's, also after a reason to give up: two
        // passes would meet it too.
        if (error->code != KEL_OK) return ONE_PASS_FAILED;
        if (r.onePass->reason != NO_REASON) return ONE_PASS_GIVEN_UP;
        if (!reportProgress(progress, countBytesTo(watch, input->offset + input->split))) return ONE_PASS_FAILED;
    }
    if (input->error) return inputError(error, r.name, *input, input->error), ONE_PASS_FAILED;
    // Faces that named texture coordinates or normals before there were any
    // read them as 0, which two passes do only when there are none at all.
    if (r.onePass->unresolvedReferences && (r.numtexcoords || r.numnormals))
        return needTwoPasses(&r, LATE_ENTRIES), ONE_PASS_GIVEN_UP;
    if (r.onePass->indexError.code != KEL_OK) return *error = r.onePass->indexError, ONE_PASS_FAILED;
    return ONE_PASS_READ;
}

}  // namespace

OnePassEnd readInOnePass(const ReadSetup& setup, Progress* progress, KelModel* model, KelError* error) {
    Plan plan;  // one span for each group's whole list, and where each chunk lies
    OwnedNameIndex groups;
    MaterialIndex materials;
    ColorTable colors;
    OnePass one = {&groups.index, &setup, NO_REASON, false, false, {}};
    FillReader r = {};
    r.room = ROOM_GROWING;
    r.model = model;
    r.name = setup.name;
    r.error = error;
    r.chunks = setup.input;
    r.plan = &plan;
    r.colors = &colors;
    r.materials = &materials;
    r.indexDigits = 1;
    r.onePass = &one;
    ChunkWatch watch = {progress, 2, true, 0};  // each byte stands for the work of both passes
    watchChunks(setup.input, &watch);
    KelNameSlot* first = findOrAddGroup(model, &groups.index, "default", error);
    OnePassEnd end = ONE_PASS_FAILED;
    if (first && (r.span = wholeListSpan(&plan, first, error)) && reserveGrowingTables(&r, setup.input->total))
        end = fillInput(r, progress, &watch, &plan);
    setup.input->watch = KelReadWatch{};
    model->colors = colors.colors;
    assert(end != ONE_PASS_GIVEN_UP || one.reason != NO_REASON);
    if (end != ONE_PASS_READ) return end;
    if (!cutGrownTables(&r)) return ONE_PASS_FAILED;
    finishTables(model);
    finishMaterials(setup, plan, materials);
    return reportProgress(progress, ~0ull) ? ONE_PASS_READ : ONE_PASS_FAILED;
}

}  // namespace kelobj
