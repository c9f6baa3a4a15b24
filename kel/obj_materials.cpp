// The OBJ reader's materials: libraries read into the model and indexed by
// name, the warning of an optional library that is missing, and at the end
// of a read each group's last material and the message of each usemtl that
// named no material.
#include <cassert>
#include <cstdio>

#include "kel/obj_reader.h"
#include "kel/obj_refs.h"

namespace kelobj {

// Indexes the model's material table by name, the first material of a
// name standing for it as in kelLookupMaterial. False, with the error set,
// when out of memory.
static bool indexMaterials(MaterialIndex* materials, const KelModel* model, KelError* error) {
    KelNameIndex* index = &materials->byName.index;
    kelFreeNameIndex(index);
    for (unsigned i = 0; i < model->nummaterials; i++) {
        KelNameSlot* slot = reserveSlot(index, model->materials[i].name, error);
        if (!slot) return false;
        if (!slot->name) kelFillNameSlot(index, slot, model->materials[i].name), slot->value = i;
    }
    return true;
}

bool lookupMaterial(const MaterialIndex& materials, const char* name, unsigned* index) {
    const KelNameSlot* slot = kelNameSlot(&materials.byName.index, name);
    if (!slot || !slot->name) return false;
    *index = unsigned(slot->value);
    return true;
}

LibraryRead readLibrary(const ReadSetup& setup, KelModel* model, MaterialIndex* materials, const LibraryNote& note,
                        KelError* missing, KelError* error) {
    // The first library named names the model's; each adds its materials
    // after those read before it.
    if (!model->mtllibname && !(model->mtllibname = kelTryCopyName(note.name, strlen(note.name))))
        return kelSetMemoryError(error, strlen(note.name) + 1, 1), LIBRARY_FAILED;
    // Every name is kept, so that a save knows each file the model came from.
    char* name = kelTryCopyName(note.name, strlen(note.name));
    char** names =
        name ? static_cast<char**>(kelTryRealloc(model->mtllibs, (model->nummtllibs + 1) * sizeof(char*))) : nullptr;
    if (!names) {
        free(name);
        return kelSetMemoryError(error, strlen(note.name) + 1, 1), LIBRARY_FAILED;
    }
    model->mtllibs = names;
    model->mtllibs[model->nummtllibs++] = name;
    KelError libraryError = {};
    int status =
        kelLoadMTLChunks(model, note.name, setup.chunk, setup.options, setup.librariesOnDisk, true, &libraryError);
    if (status == KEL_OK) return indexMaterials(materials, model, error) ? LIBRARY_READ : LIBRARY_FAILED;
    libraryError.line = status == KEL_ERROR_MEMORY ? 0 : kelLineAt(setup.input, note.offset);
    // An optional library that is missing or cannot be read, whatever the
    // reason, leaves the model its default material.
    bool unreadable = status == KEL_ERROR_LIBRARY || status == KEL_ERROR_IO || status == KEL_ERROR_ENCODING;
    if (unreadable && setup.options->optionalLibrary) {
        *missing = libraryError;
        return LIBRARY_MISSING;
    }
    *error = libraryError;
    return LIBRARY_FAILED;
}

bool useDefaultMaterial(const ReadSetup& setup, KelModel* model, MaterialIndex* materials, const KelError& missing,
                        KelError* error) {
    if (model->materials)
        kelWarn(&setup.warnings, missing.line, "kelReadOBJ() warning: %s; its materials are \"default\".",
                missing.message);
    else
        kelWarn(&setup.warnings, missing.line, "kelReadOBJ() warning: %s; every material is \"default\".",
                missing.message);
    materials->libraryMissing = true;
    if (model->materials || kelDefaultMaterials(model)) return indexMaterials(materials, model, error);
    return kelSetMemoryError(error, 1, sizeof(KelMaterial)), false;
}

// Sends the message of each usemtl in the chunk of `chunks` that names no
// material where `to` says.
static void warnUnknownMaterials(const KelWarnings* to, const MaterialIndex& materials, const KelChunks& chunks) {
    const char* p = chunks.data + chunks.start;
    const char* end = chunks.data + chunks.split;
    KelError ignored = {};
    for (p = kelSkipSpace(p, end); p < end; p = kelSkipSpace(p, end)) {
        const char* tokenEnd = kelTokenEnd(p, end);
        if (!kelIsWord(p, tokenEnd, "usemtl")) {
            p = kelSkipLine(tokenEnd, end);
            continue;
        }
        const char *nameEnd, *next;
        const char* name = statementName(tokenEnd, end, &nameEnd, &next);
        if (name != nameEnd) {
            NameCopy copy(&ignored, name, nameEnd);
            unsigned found;
            if (copy.text && !lookupMaterial(materials, copy.text, &found))
                kelMaterialNotFound(to, kelChunkLine(&chunks, p), copy.text);
        }
        p = next;
    }
}

void finishMaterials(const ReadSetup& setup, const Plan& plan, const MaterialIndex& materials) {
    for (size_t i = 0; i < plan.numspans; i++) {
        const GroupSpan& span = plan.spans[i];
        if (span.assigned) span.group->material = span.material;
    }
    KelError ignored = {};
    KelChunks chunks = plannedChunkReader(*setup.input);
    for (size_t i = 0; i < plan.numchunks; i++) {
        const ChunkPlan& c = plan.chunks[i];
        if (c.unknownMaterial && loadPlannedChunk(&chunks, c.offset, c.size, setup.name, &ignored))
            warnUnknownMaterials(&setup.warnings, materials, chunks);
    }
    kelCloseChunks(&chunks);
}

}  // namespace kelobj
