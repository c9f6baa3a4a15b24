// Strict reading: each line of OBJ text checked against the statements the
// format allows. Lenient reading takes what it can of anything; this check
// runs first, so that a caller who asks learns of the first statement the
// format does not allow, the same on any number of threads.
#include "kel/strict.h"

#include <cstdio>
#include <cstring>

#include "kel/obj_reader.h"
#include "kel/scan.h"

namespace kelobj {
namespace {

// Keywords whose words strict reading leaves alone: groups, objects,
// smoothing groups and materials, which take names, and the keywords of the
// format that kel does not read (free-form geometry, connectivity, merging
// groups, render attributes), whose statements it skips.
const char* const kOtherKeywords[] = {
    "g",      "o",     "s",        "usemtl",   "mtllib",    "cstype",     "deg",   "bmat",  "step", "curv", "curv2",
    "surf",   "parm",  "trim",     "hole",     "scrv",      "sp",         "end",   "con",   "mg",   "lod",  "usemap",
    "maplib", "bevel", "c_interp", "d_interp", "trace_obj", "shadow_obj", "ctech", "stech", "call", "csh",
};

// How a reference is written: bit 0 for a texture coordinate, bit 1 for a
// normal.
enum Form { FORM_V = 0, FORM_VT = 1, FORM_VN = 2, FORM_VTN = 3, FORM_NONE = -1 };

// An index: optional sign, then digits. The position after it, or null.
const char* skipIndex(const char* p, const char* end) {
    if (p < end && (*p == '-' || *p == '+')) p++;
    if (p == end || !kelIsDigit(*p)) return nullptr;
    while (p < end && kelIsDigit(*p)) p++;
    return p;
}

// The form of the reference [p, end): "v", "v/t", "v/t/n" or "v//n";
// FORM_NONE when it is none of them.
Form referenceForm(const char* p, const char* end) {
    if (!(p = skipIndex(p, end))) return FORM_NONE;
    if (p == end) return FORM_V;
    if (*p++ != '/') return FORM_NONE;
    if (p < end && *p == '/') return (p = skipIndex(p + 1, end)) && p == end ? FORM_VN : FORM_NONE;
    if (!(p = skipIndex(p, end))) return FORM_NONE;
    if (p == end) return FORM_VT;
    if (*p++ != '/') return FORM_NONE;
    return (p = skipIndex(p, end)) && p == end ? FORM_VTN : FORM_NONE;
}

// A statement's words after its keyword, one at a time. A word that starts
// with '#' starts a comment, which runs to the line's end.
struct Words {
    const char* p;
    const char* lineEnd;
    // The next word, or false at the line's end or a comment.
    bool next(const char** word, const char** wordEnd) {
        while (p < lineEnd && kelIsSpace(*p)) p++;
        if (p == lineEnd || *p == '#') return false;
        *word = p;
        while (p < lineEnd && !kelIsSpace(*p)) p++;
        *wordEnd = p;
        return true;
    }
};

bool found(StrictFinding* finding, StrictProblem problem, const char* at, const char* token, const char* tokenEnd,
           int count) {
    *finding = {problem, at, token, size_t(tokenEnd - token), count};
    return false;
}

// The numbers of a vertex statement: each word must be one; returns their
// count, or -1 with the finding set.
int countNumbers(Words words, const char* end, const char* at, StrictFinding* finding) {
    int count = 0;
    const char *word, *wordEnd;
    while (words.next(&word, &wordEnd)) {
        float value;
        // kelParseFloat stops at the blank or line end after the word, or
        // at the zero after the text.
        if (kelParseFloat(word, end, &value) != wordEnd)
            return found(finding, STRICT_NOT_NUMBER, at, word, wordEnd, 0), -1;
        count++;
    }
    return count;
}

// The references of a face, line or point statement: each a reference, all
// in the form of the first; at least `least` of them. Notes in *tables
// where the first reference to a texture coordinate or normal stands.
bool checkReferences(Words words, const char* at, unsigned long long offset, int least, StrictProblem tooFew,
                     StrictTables* tables, StrictFinding* finding) {
    int count = 0;
    Form first = FORM_NONE;
    const char *word, *wordEnd;
    while (words.next(&word, &wordEnd)) {
        Form form = referenceForm(word, wordEnd);
        if (form == FORM_NONE) return found(finding, STRICT_NOT_REFERENCE, at, word, wordEnd, 0);
        if (count++ == 0) first = form;
        if (form != first) return found(finding, STRICT_MIXED_FORMS, at, word, wordEnd, 0);
    }
    if (count < least) return found(finding, tooFew, at, at, at, count);
    if ((first & FORM_VT) && tables->texcoordReference == ~0ull) tables->texcoordReference = offset;
    if ((first & FORM_VN) && tables->normalReference == ~0ull) tables->normalReference = offset;
    return true;
}

// One statement, [at, lineEnd), whose keyword is [at, keywordEnd).
bool checkStatement(const char* at, const char* keywordEnd, const char* lineEnd, const char* end,
                    unsigned long long offset, StrictTables* tables, StrictFinding* finding) {
    Words words = {keywordEnd, lineEnd};
    size_t length = size_t(keywordEnd - at);
    if (*at == '#') return true;
    if (*at == 'v') {
        int least = 3, most = 3;
        StrictProblem problem = STRICT_VERTEX_NUMBERS;
        if (length == 2 && at[1] == 'n') {
            problem = STRICT_NORMAL_NUMBERS;
            tables->normals = true;
        } else if (length == 2 && at[1] == 't') {
            problem = STRICT_TEXCOORD_NUMBERS, least = 1;
            tables->texcoords = true;
        } else if (length == 1) {
            most = 6;
        } else {
            return found(finding, STRICT_UNKNOWN_STATEMENT, at, at, keywordEnd, 0);
        }
        int count = countNumbers(words, end, at, finding);
        if (count < 0) return false;
        if (count < least || count > most || (problem == STRICT_VERTEX_NUMBERS && count == 5))
            return found(finding, problem, at, at, at, count);
        return true;
    }
    if (kelIsWord(at, keywordEnd, "f"))
        return checkReferences(words, at, offset, 3, STRICT_FACE_REFERENCES, tables, finding);
    if (kelIsWord(at, keywordEnd, "l"))
        return checkReferences(words, at, offset, 2, STRICT_LINE_REFERENCES, tables, finding);
    if (kelIsWord(at, keywordEnd, "p"))
        return checkReferences(words, at, offset, 1, STRICT_POINT_REFERENCES, tables, finding);
    for (const char* keyword : kOtherKeywords)
        if (kelIsWord(at, keywordEnd, keyword)) return true;
    return found(finding, STRICT_UNKNOWN_KEYWORD, at, at, keywordEnd, 0);
}

}  // namespace

bool strictCheckLines(const char* begin, const char* end, unsigned long long offset, StrictTables* tables,
                      StrictFinding* finding) {
    for (const char* line = begin; line < end;) {
        const char* lineEnd = static_cast<const char*>(memchr(line, '\n', size_t(end - line)));
        const char* next = lineEnd ? lineEnd + 1 : end;
        if (!lineEnd) lineEnd = end;
        const char* nul = static_cast<const char*>(memchr(line, '\0', size_t(lineEnd - line)));
        if (nul) return found(finding, STRICT_NUL, nul, nul, nul, 0);
        const char* at = line;
        while (at < lineEnd && kelIsSpace(*at)) at++;
        if (at < lineEnd) {
            const char* keywordEnd = at;
            while (keywordEnd < lineEnd && !kelIsSpace(*keywordEnd)) keywordEnd++;
            if (!checkStatement(at, keywordEnd, lineEnd, end, offset + size_t(at - begin), tables, finding))
                return false;
        }
        line = next;
    }
    return true;
}

void strictError(KelError* error, const char* reader, const char* name, unsigned long line, const StrictFinding& f) {
    if (f.problem == STRICT_UNKNOWN_STATEMENT) {
        kelSetError(error, KEL_ERROR_STATEMENT, line, "kelFirstPass(): Unknown token \"%.*s\".", int(f.length),
                    f.token);
        return;
    }
    char problem[96];
    const char* text = problem;
    switch (f.problem) {
    case STRICT_FACE_REFERENCES: text = "a face needs three references"; break;
    case STRICT_LINE_REFERENCES: text = "a line needs two references"; break;
    case STRICT_POINT_REFERENCES: text = "a point statement needs a reference"; break;
    case STRICT_NOT_REFERENCE: text = "is not a reference"; break;
    case STRICT_MIXED_FORMS: text = "the references of a face mix forms"; break;
    case STRICT_NOT_NUMBER: text = "is not a number"; break;
    case STRICT_VERTEX_NUMBERS: snprintf(problem, sizeof problem, "v takes 3, 4 or 6 numbers, not %d", f.count); break;
    case STRICT_NORMAL_NUMBERS: snprintf(problem, sizeof problem, "vn takes 3 numbers, not %d", f.count); break;
    case STRICT_TEXCOORD_NUMBERS: snprintf(problem, sizeof problem, "vt takes 1 to 3 numbers, not %d", f.count); break;
    case STRICT_NUL: text = "NUL byte"; break;
    case STRICT_UNKNOWN_KEYWORD: text = "unknown keyword"; break;
    case STRICT_NO_TEXCOORDS: text = "texture coordinate index in a file without texture coordinates"; break;
    case STRICT_NO_NORMALS: text = "normal index in a file without normals"; break;
    case STRICT_NO_NUMBER: text = "has no number"; break;
    case STRICT_OK:
    case STRICT_UNKNOWN_STATEMENT: break;
    }
    if (f.problem == STRICT_NOT_REFERENCE || f.problem == STRICT_NOT_NUMBER || f.problem == STRICT_NO_NUMBER)
        kelSetError(error, KEL_ERROR_SYNTAX, line, "%s() failed: \"%.*s\" %s in \"%s\" line %lu.", reader,
                    int(f.length), f.token, text, name, line);
    else if (f.problem == STRICT_UNKNOWN_KEYWORD)
        kelSetError(error, KEL_ERROR_SYNTAX, line, "%s() failed: %s \"%.*s\" in \"%s\" line %lu.", reader, text,
                    int(f.length), f.token, name, line);
    else
        kelSetError(error, KEL_ERROR_SYNTAX, line, "%s() failed: %s in \"%s\" line %lu.", reader, text, name, line);
}

// --- Material libraries ---------------------------------------------------------

bool strictCheckLibraryLines(const char* begin, const char* end, StrictFinding* finding) {
    // The statements that take numbers. Colours may instead name a spectral
    // curve ("spectral file.rfl [factor]") or give CIE XYZ ("xyz x y z"),
    // and "d" may start with "-halo".
    static const char* const numbered[] = {"Ka",    "Kd", "Ks", "Ke", "Tf", "d",   "Tr",    "Ns",     "Ni",
                                           "illum", "Pr", "Pm", "Ps", "Pc", "Pcr", "aniso", "anisor", "sharpness"};
    for (const char* line = begin; line < end;) {
        const char* lineEnd = static_cast<const char*>(memchr(line, '\n', size_t(end - line)));
        const char* next = lineEnd ? lineEnd + 1 : end;
        if (!lineEnd) lineEnd = end;
        Words words = {line, lineEnd};
        const char *keyword, *keywordEnd;
        bool takesNumbers = false;
        if (words.next(&keyword, &keywordEnd))
            for (const char* k : numbered) takesNumbers = takesNumbers || kelIsWord(keyword, keywordEnd, k);
        if (takesNumbers) {
            const char *word, *wordEnd;
            int count = 0;
            bool spectral = false;
            while (!spectral && words.next(&word, &wordEnd)) {
                float value;
                if (count == 0 && (kelIsWord(word, wordEnd, "xyz") || kelIsWord(word, wordEnd, "-halo"))) continue;
                if (count == 0 && kelIsWord(word, wordEnd, "spectral"))
                    spectral = true, count++;
                else if (kelParseFloat(word, end, &value) != wordEnd)
                    return found(finding, STRICT_NOT_NUMBER, word, word, wordEnd, 0);
                count++;
            }
            if (count == 0) return found(finding, STRICT_NO_NUMBER, keyword, keyword, keywordEnd, 0);
        }
        line = next;
    }
    return true;
}

bool strictCheckLibrary(KelChunks* chunks, const char* path, KelError* error) {
    StrictFinding finding;
    while (kelNextChunk(chunks)) {
        if (!strictCheckLibraryLines(chunks->data + chunks->start, chunks->data + chunks->split, &finding)) {
            strictError(error, "kelReadMTL", path, kelChunkLine(chunks, finding.at), finding);
            return false;
        }
    }
    if (chunks->error) return false;
    kelRewindChunks(chunks);
    return true;
}

// --- The strict pass of the OBJ reader ---------------------------------------------

bool strictPass(const ReadSetup& setup, Progress* progress, KelError* error) {
    const KelChunks* input = setup.input;
    KelChunks chunks;
    if (kelOpenRangeChunks(input, 0, input->total, setup.chunk, &chunks) != KEL_OK) {
        kelCloseChunks(&chunks);
        return kelSetMemoryError(error, setup.chunk, 1), false;
    }
    ChunkWatch watch = {progress, 1, true, 0};
    watchChunks(&chunks, &watch);
    StrictTables tables = strictTablesNone();
    StrictFinding finding = {};
    bool allowed = true;
    while (allowed && kelNextChunk(&chunks)) {
        const char* begin = chunks.data + chunks.start;
        allowed = strictCheckLines(begin, chunks.data + chunks.split, chunks.offset + chunks.start, &tables, &finding);
        if (!allowed) strictError(error, "kelReadOBJ", setup.name, kelChunkLine(&chunks, finding.at), finding);
        if (allowed && !reportProgress(progress, countBytesTo(&watch, chunks.offset + chunks.split))) allowed = false;
    }
    if (allowed && chunks.error) {
        inputError(error, setup.name, chunks, chunks.error);
        allowed = false;
    }
    kelCloseChunks(&chunks);
    // Faces may name texture coordinates or normals before the table's
    // first entry stands, so a missing table is known at the end.
    unsigned long long texcoord = tables.texcoords ? ~0ull : tables.texcoordReference;
    unsigned long long normal = tables.normals ? ~0ull : tables.normalReference;
    if (allowed && (texcoord != ~0ull || normal != ~0ull)) {
        StrictFinding missing = {texcoord <= normal ? STRICT_NO_TEXCOORDS : STRICT_NO_NORMALS, nullptr, nullptr, 0, 0};
        strictError(error, "kelReadOBJ", setup.name, kelLineAt(input, texcoord <= normal ? texcoord : normal), missing);
        allowed = false;
    }
    // The passes count the input again from the start.
    progress->base += input->total;
    progress->bytesDone = 0;
    return allowed;
}

}  // namespace kelobj
