/*
 * cmdline.c - splits a Win32 command line into arguments (see cmdline.h).
 */
#include "cmdline.h"

#define IS_BLANK(c) ((c) == ' ' || (c) == '\t')

/* Output of the split: the text buffer and how far it is filled. */
struct Out {
    char *text;
    unsigned size;
    unsigned used;
    int full; /* a character did not fit: the current argument is dropped */
};

static void Put(struct Out *out, char c)
{
    if (out->used < out->size)
        out->text[out->used++] = c;
    else
        out->full = 1;
}

/* Ends the argument begun at start; stores it when it fit whole. */
static void Finish(struct Out *out, unsigned start, char **argv, int maxArgs, int *argc)
{
    Put(out, '\0');
    if (out->full || *argc + 1 >= maxArgs) {
        out->used = start;
        out->full = 1;
        return;
    }
    argv[(*argc)++] = out->text + start;
}

int DtSplitCommandLine(const char *line, char *text, unsigned textSize, char **argv, int maxArgs)
{
    struct Out out;
    const char *p = line;
    int argc = 0;
    int quoted = 0;
    unsigned start;

    if (maxArgs <= 0)
        return 0;
    out.text = text;
    out.size = textSize;
    out.used = 0;
    out.full = 0;

    /* The program name: quotes group and are dropped, backslashes are
     * ordinary characters. */
    start = out.used;
    for (; *p != '\0'; p++) {
        if (*p == '"')
            quoted = !quoted;
        else if (!quoted && IS_BLANK(*p))
            break;
        else
            Put(&out, *p);
    }
    Finish(&out, start, argv, maxArgs, &argc);

    quoted = 0;
    for (;;) {
        while (IS_BLANK(*p))
            p++;
        if (*p == '\0' || out.full)
            break;

        start = out.used;
        for (;;) {
            unsigned slashes = 0;
            int copy = 1;

            while (*p == '\\') {
                p++;
                slashes++;
            }
            if (*p == '"') {
                if (slashes % 2 == 0) {
                    if (quoted && p[1] == '"')
                        p++; /* "" inside quotes: one literal quote */
                    else {
                        copy = 0;
                        quoted = !quoted;
                    }
                }
                slashes /= 2;
            }
            for (; slashes > 0; slashes--)
                Put(&out, '\\');
            if (*p == '\0' || (!quoted && IS_BLANK(*p)))
                break;
            if (copy)
                Put(&out, *p);
            p++;
        }
        Finish(&out, start, argv, maxArgs, &argc);
    }
    argv[argc] = (char *)0;
    return argc;
}
