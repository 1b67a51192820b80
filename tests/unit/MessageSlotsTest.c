/* Reaches a message only through its table of operations by slot index, compiled as C with
 * no C++ header, as a toolbox built elsewhere does. A change of the slot order makes one of
 * these checks call the wrong operation and fail. */

#include <math.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

void* slots_new_message(void);
void* slots_new_string(const char* text);
const char* slots_string_text(const void* text);
void slots_free_string(void* text);
unsigned long slots_map_size(const void* fields);
int slots_run_checks(void);

typedef void (*slot_t)(void);

static slot_t slot(const void* object, int index) {
    return (*(slot_t* const*)object)[index];
}

/* One type per shape of operation; the object pointer always comes first. */
typedef bool (*parse_t)(void*, const char*, int);
typedef bool (*parse_string_t)(void*, const void*);
typedef void (*set_double_t)(void*, const char*, double);
typedef void (*set_int_t)(void*, const char*, int);
typedef void (*set_strings_t)(void*, const void*, const void*);
typedef void (*set_texts_t)(void*, const char*, const char*);
typedef void* (*copy_t)(void*, const void*);
typedef const char* (*text_t)(const void*);
typedef const char* (*field_t)(const void*, const char*);
typedef bool (*field_bool_t)(const void*, const char*, bool*);
typedef int64_t (*field_int64_t)(const void*, const char*, int64_t*);
typedef double (*field_double_t)(const void*, const char*, double*);
typedef int (*field_int_t)(const void*, const char*, int*);
typedef const char* (*field_string_t)(const void*, const char*, void*);
typedef int (*get_int_t)(const void*, const char*);
typedef double (*get_double_t)(const void*, const char*);
typedef int64_t (*get_int64_t)(const void*, const char*);
typedef bool (*get_bool_t)(const void*, const char*);
typedef void (*action_t)(void*);
typedef int (*length_t)(void*);
typedef void (*text_out_t)(void*, void*);
typedef void* (*assign_t)(void*, const void*);
typedef const void* (*fields_t)(const void*);

static int failures;

static void check(bool ok, int slotIndex, const char* what) {
    if (!ok) {
        ++failures;
        printf("slot %d: %s\n", slotIndex, what);
    }
}

static bool same(const char* a, const char* b) {
    return a && b && strcmp(a, b) == 0;
}

static void check_parsing(void* m) {
    const char* text = "Request=GetState\nTask-Type=7\n";
    check(((parse_t)slot(m, 0))(m, text, (int)strlen(text)), 0, "Parse returns true");
    check(same(((text_t)slot(m, 8))(m), "Request"), 8, "GetLeadName");
    check(same(((text_t)slot(m, 9))(m), "GetState"), 9, "GetLeadValue");

    void* fields = slots_new_string("Lead=IsField\n");
    check(((parse_string_t)slot(m, 1))(m, fields), 1, "ParseFields returns true");
    check(same(((field_t)slot(m, 10))(m, "Lead"), "IsField"), 1, "ParseFields makes fields");
    slots_free_string(fields);
}

static void check_writes_and_reads(void* m) {
    ((set_double_t)slot(m, 2))(m, "Real", 2.5);
    check(same(((field_t)slot(m, 10))(m, "Real"), "2.5"), 2, "SetField(name, double)");
    ((set_int_t)slot(m, 3))(m, "Whole", -12);
    check(same(((field_t)slot(m, 10))(m, "Whole"), "-12"), 3, "SetField(name, int)");
    void* name = slots_new_string("Words");
    void* value = slots_new_string("no");
    ((set_strings_t)slot(m, 4))(m, name, value);
    check(same(((field_t)slot(m, 10))(m, "Words"), "no"), 4, "SetField(string, string)");
    slots_free_string(name);
    slots_free_string(value);
    ((set_texts_t)slot(m, 5))(m, "Big", "9000000000");
    check(same(((field_t)slot(m, 10))(m, "Big"), "9000000000"), 5, "SetField(text, text)");
    ((set_texts_t)slot(m, 6))(m, "Reply", "Done");
    check(same(((text_t)slot(m, 8))(m), "Reply"), 6, "SetLead");
    check(same(((field_t)slot(m, 10))(m, "Missing"), ""), 10, "GetField of a missing name");

    bool flag = true;
    check(!((field_bool_t)slot(m, 11))(m, "Words", &flag) && !flag, 11, "GetField(bool&)");
    int64_t big = 0;
    check(((field_int64_t)slot(m, 12))(m, "Big", &big) == 9000000000LL && big == 9000000000LL, 12,
          "GetField(int64&)");
    double real = 0;
    check(((field_double_t)slot(m, 13))(m, "Real", &real) == 2.5 && real == 2.5, 13,
          "GetField(double&)");
    int whole = 0;
    check(((field_int_t)slot(m, 14))(m, "Whole", &whole) == -12 && whole == -12, 14,
          "GetField(int&)");
    void* out = slots_new_string("");
    check(same(((field_string_t)slot(m, 15))(m, "Words", out), "no") &&
              same(slots_string_text(out), "no"),
          15, "GetField(string&)");
    slots_free_string(out);
    check(((get_int_t)slot(m, 16))(m, "Whole") == -12, 16, "GetFieldInt");
    check(fabs(((get_double_t)slot(m, 17))(m, "Real") - 2.5) < 1e-9, 17, "GetFieldDouble");
    check(((get_int64_t)slot(m, 18))(m, "Big") == 9000000000LL, 18, "GetFieldInt64");
    ((set_texts_t)slot(m, 5))(m, "Yes", "TRUE");
    check(((get_bool_t)slot(m, 19))(m, "Yes"), 19, "GetFieldBool");
}

static void check_text_forms(void* m) {
    ((action_t)slot(m, 20))(m);
    check(same(((text_t)slot(m, 8))(m), ""), 20, "Clear empties the lead");
    ((set_texts_t)slot(m, 6))(m, "Internal", "Ping");
    ((set_texts_t)slot(m, 5))(m, "ab", "1");
    check(same(((text_t)slot(m, 21))(m), "Internal=Ping\nab=1\n"), 21, "GetText");
    check(((length_t)slot(m, 22))(m) == 20, 22, "GetTextLength counts the zero byte");
    check(same(((text_t)slot(m, 24))(m), "Internal=Ping\nab=1\n"), 24, "BuildText");
    void* out = slots_new_string("");
    ((text_out_t)slot(m, 25))(m, out);
    check(same(slots_string_text(out), "Internal=Ping\nab=1\n"), 25, "GetText(string&)");
    slots_free_string(out);

    void* text = slots_new_string("Reply=CreateSession\nResult=Success\n");
    check(((assign_t)slot(m, 26))(m, text) == m, 26, "Assign returns the message");
    check(
        same(((text_t)slot(m, 9))(m), "CreateSession") && same(((field_t)slot(m, 10))(m, "ab"), ""),
        26, "Assign clears and takes the lead");
    slots_free_string(text);
    text = slots_new_string("Extra=Field\n");
    check(((assign_t)slot(m, 27))(m, text) == m, 27, "Append returns the message");
    check(
        same(((field_t)slot(m, 10))(m, "Extra"), "Field") && same(((text_t)slot(m, 8))(m), "Reply"),
        27, "Append adds fields and keeps the lead");
    slots_free_string(text);
    check(slots_map_size(((fields_t)slot(m, 28))(m)) == 2, 28, "GetFields");
}

static void check_copy_and_release(void* m) {
    void* other = slots_new_message();
    check(((copy_t)slot(other, 7))(other, m) == other, 7, "CopyFrom returns the message");
    check(same(((text_t)slot(other, 21))(other), ((text_t)slot(m, 21))(m)), 7, "CopyFrom copies");
    ((action_t)slot(other, 23))(other);
}

int slots_run_checks(void) {
    void* m = slots_new_message();
    failures = 0;
    check_parsing(m);
    check_writes_and_reads(m);
    check_text_forms(m);
    check_copy_and_release(m);
    ((action_t)slot(m, 23))(m);
    return failures;
}
