// Profiles: a strict JSON reader that keeps positions, and the writer.
#include "protocol/profile_format.h"

#include <cstring>

#include "protocol/fixed_text.h"

namespace {

struct Position {
    int line = 1;
    int column = 1;
};

enum class ValueType { Null, Boolean, Integer, Number, String, Array, Object };

const char *typeName(ValueType type)
{
    switch (type) {
    case ValueType::Null: return "null";
    case ValueType::Boolean: return "a boolean";
    case ValueType::Integer: return "an integer";
    case ValueType::Number: return "a number";
    case ValueType::String: return "a string";
    case ValueType::Array: return "an array";
    case ValueType::Object: return "an object";
    }
    return "something else";
}

constexpr int NameSize = 48;  // longer keys and values are shown cut

// One member of the document or of its "settings" object.
struct Member {
    char key[NameSize + 1] = {};  // one byte more than shown, to cut at a character
    int keyLength = 0;  // the whole decoded length, even when cut
    Position keyAt;
    Position valueAt;
    std::size_t valueStart = 0;
    std::size_t valueEnd = 0;
    ValueType type = ValueType::Null;
};

// The keys a profile can have anywhere: at most one member each is kept,
// so a document of any size needs only this much room.
const char *const TopKeys[] = {"format", "kind", "settings"};
constexpr int TopKeyCount = sizeof TopKeys / sizeof TopKeys[0];
constexpr int SettingKeyLimit = 2 * MaxSettingFields;

class Parser {
public:
    Parser(const char *text, std::size_t length, char *error, int errorSize)
        : text_(reinterpret_cast<const unsigned char *>(text)), length_(length), error_(error), errorSize_(errorSize)
    {
    }

    bool parse(SettingsValues &profile);

private:
    // Positions.
    void advance()
    {
        unsigned char c = text_[i_];
        if (c == '\n') {
            ++here_.line;
            here_.column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++here_.column;  // columns count characters, not UTF-8 bytes
        }
        ++i_;
    }
    void skipSpace()
    {
        while (i_ < length_ && (text_[i_] == ' ' || text_[i_] == '\t' || text_[i_] == '\n' || text_[i_] == '\r'))
            advance();
    }
    bool atEnd() const { return i_ >= length_; }

    // Errors: "line L, column C: " and the rest, written by the caller.
    FixedText fail(const Position &at)
    {
        failed_ = true;
        FixedText text(error_, errorSize_);
        text.add("line ").add(static_cast<long>(at.line)).add(", column ").add(static_cast<long>(at.column)).add(": ");
        return text;
    }
    bool syntax(const char *why)
    {
        FixedText text = fail(here_);
        text.add("not JSON: ").add(why);
        if (!atEnd()) {
            // One byte, which may be part of a character: shown as ASCII only.
            text.add(" at ");
            name(text, text_ + i_, 1, true);
        }
        return false;
    }

    // A name for people: printable, control bytes as \xNN, quoted.
    static void name(FixedText &text, const unsigned char *bytes, int count, bool asciiOnly = false)
    {
        static const char hex[] = "0123456789ABCDEF";
        text.add("\"");
        for (int k = 0; k < count; ++k) {
            unsigned char c = bytes[k];
            if (c < 0x20 || c == 0x7F || c == '\\' || c == '"' || (asciiOnly && c > 0x7F)) {
                char escaped[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
                text.add(escaped, 4);
            } else {
                char one = static_cast<char>(c);
                text.add(&one, 1);
            }
        }
        text.add("\"");
    }
    // How much of `count` bytes to show: at most NameSize, never ending
    // inside a UTF-8 character.
    static int shown(const unsigned char *bytes, std::size_t count)
    {
        if (count <= static_cast<std::size_t>(NameSize))
            return static_cast<int>(count);
        int keep = NameSize;
        while (keep > 0 && (bytes[keep] & 0xC0) == 0x80)
            --keep;
        return keep;
    }
    static void name(FixedText &text, const Member &m)
    {
        const unsigned char *key = reinterpret_cast<const unsigned char *>(m.key);
        const int keep = shown(key, static_cast<std::size_t>(m.keyLength));
        name(text, key, keep);
        if (keep < m.keyLength)
            text.add("...");
    }
    // The value's own text, as written (line breaks and tabs as spaces), cut
    // when long.
    void raw(FixedText &text, const Member &m) const
    {
        const std::size_t count = m.valueEnd - m.valueStart;
        const int keep = shown(text_ + m.valueStart, count);
        for (int k = 0; k < keep; ++k) {
            char c = static_cast<char>(text_[m.valueStart + static_cast<std::size_t>(k)]);
            if (c == '\n' || c == '\r' || c == '\t')
                c = ' ';
            text.add(&c, 1);
        }
        if (static_cast<std::size_t>(keep) < count)
            text.add("...");
    }

    bool value(int depth, int level, bool inSettings, ValueType &type);
    bool string(char *decoded, int &decodedLength);
    bool number(ValueType &type);
    bool literal(const char *word, ValueType type, ValueType &out);
    bool object(int depth, int level, bool isSettings);
    bool array(int depth);
    bool keep(Member *list, int &count, Member &firstOther, bool &otherSeen, bool known, const Member &m);

    bool decodeValueString(const Member &m, char *out, int &length);
    const Member *top(const char *key) const;
    bool check(SettingsValues &profile);
    int settingValue(ReaderType kind, int field, const Member &m, FixedText &why);

    const unsigned char *text_;
    std::size_t length_;
    std::size_t i_ = 0;
    Position here_;
    char *error_;
    int errorSize_;
    bool failed_ = false;

    Position documentAt_;
    ValueType documentType_ = ValueType::Null;
    Member top_[TopKeyCount];  // format, kind, settings as they came
    int topCount_ = 0;
    Member otherTop_;          // the first other key of the document
    bool otherTopSeen_ = false;
    Member settings_[SettingKeyLimit];  // names a setting has, as they came
    int settingsCount_ = 0;
    Member otherSetting_;               // the first other key of settings
    bool otherSettingSeen_ = false;
};

bool Parser::literal(const char *word, ValueType type, ValueType &out)
{
    for (const char *w = word; *w; ++w) {
        if (atEnd())
            return syntax("the text ends inside a value");
        if (text_[i_] != static_cast<unsigned char>(*w))
            return syntax("unexpected character");
        advance();
    }
    out = type;
    return true;
}

bool Parser::number(ValueType &type)
{
    const Position start = here_;
    type = ValueType::Integer;
    if (text_[i_] == '-')
        advance();
    if (atEnd() || text_[i_] < '0' || text_[i_] > '9')
        return syntax(atEnd() ? "the text ends inside a number" : "unexpected character in a number");
    // The decimal exponent of the value, roughly: enough to know whether it
    // fits a double at all.
    long magnitude = -1;
    bool nonZero = false;
    if (text_[i_] == '0') {
        advance();
    } else {
        while (!atEnd() && text_[i_] >= '0' && text_[i_] <= '9') {
            if (magnitude < 1000000)
                ++magnitude;
            nonZero = true;
            advance();
        }
    }
    if (!atEnd() && text_[i_] == '.') {
        type = ValueType::Number;
        advance();
        if (atEnd() || text_[i_] < '0' || text_[i_] > '9')
            return syntax(atEnd() ? "the text ends inside a number" : "a digit must follow the decimal point");
        while (!atEnd() && text_[i_] >= '0' && text_[i_] <= '9') {
            if (!nonZero && text_[i_] == '0' && magnitude > -1000000)
                --magnitude;
            if (text_[i_] != '0')
                nonZero = true;
            advance();
        }
    }
    if (!atEnd() && (text_[i_] == 'e' || text_[i_] == 'E')) {
        type = ValueType::Number;
        advance();
        bool negative = false;
        if (!atEnd() && (text_[i_] == '+' || text_[i_] == '-')) {
            negative = text_[i_] == '-';
            advance();
        }
        if (atEnd() || text_[i_] < '0' || text_[i_] > '9')
            return syntax(atEnd() ? "the text ends inside a number" : "a digit must follow the exponent");
        long exponent = 0;
        while (!atEnd() && text_[i_] >= '0' && text_[i_] <= '9') {
            if (exponent < 100000000)
                exponent = exponent * 10 + (text_[i_] - '0');
            advance();
        }
        magnitude += negative ? -exponent : exponent;
    }
    if (nonZero && magnitude > 308) {
        fail(start).add("not JSON: a number out of range");
        return false;
    }
    return true;
}

// Reads a string at the opening quote; its content, decoded, into `decoded`
// (NameSize + 1 bytes, cut) with the whole length in `decodedLength`.
bool Parser::string(char *decoded, int &decodedLength)
{
    decodedLength = 0;
    auto put = [&](unsigned long c) {
        // UTF-8 of code point c.
        unsigned char bytes[4];
        int n;
        if (c < 0x80) {
            bytes[0] = static_cast<unsigned char>(c);
            n = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 4;
        }
        for (int k = 0; k < n; ++k) {
            if (decoded != nullptr && decodedLength <= NameSize)
                decoded[decodedLength] = static_cast<char>(bytes[k]);
            if (decodedLength < 1000000)
                ++decodedLength;
        }
    };
    auto hex4 = [&](unsigned long &out) {
        out = 0;
        for (int k = 0; k < 4; ++k) {
            if (atEnd())
                return syntax("the text ends inside a string");
            unsigned char c = text_[i_];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                       : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return syntax("\\u must be followed by four hex digits");
            out = out * 16 + static_cast<unsigned long>(digit);
            advance();
        }
        return true;
    };

    advance();  // the opening quote
    for (;;) {
        if (atEnd())
            return syntax("the text ends inside a string");
        unsigned char c = text_[i_];
        if (c == '"') {
            advance();
            return true;
        }
        if (c < 0x20)
            return syntax("a control character must be escaped in a string");
        if (c == '\\') {
            advance();
            if (atEnd())
                return syntax("the text ends inside a string");
            unsigned char e = text_[i_];
            const char *simple = "\"\\/bfnrt";
            const char *decodedSimple = "\"\\/\b\f\n\r\t";
            const char *found = e != 0 ? std::strchr(simple, e) : nullptr;
            if (found != nullptr) {
                put(static_cast<unsigned char>(decodedSimple[found - simple]));
                advance();
                continue;
            }
            if (e != 'u')
                return syntax("invalid escape in a string");
            advance();
            unsigned long code;
            if (!hex4(code))
                return false;
            if (code >= 0xDC00 && code <= 0xDFFF)
                return syntax("a \\u escape holds half of a surrogate pair");
            if (code >= 0xD800 && code <= 0xDBFF) {
                if (length_ - i_ < 2 || text_[i_] != '\\' || text_[i_ + 1] != 'u')
                    return syntax("a \\u escape holds half of a surrogate pair");
                advance();
                advance();
                unsigned long low;
                if (!hex4(low))
                    return false;
                if (low < 0xDC00 || low > 0xDFFF)
                    return syntax("a \\u escape holds half of a surrogate pair");
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            put(code);
            continue;
        }
        // UTF-8, well formed: no overlong forms, no surrogates, at most U+10FFFF.
        int extra;
        unsigned long code;
        if (c < 0x80) {
            extra = 0;
            code = c;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return syntax("ill-formed UTF-8 byte");
        }
        advance();
        for (int k = 0; k < extra; ++k) {
            if (atEnd())
                return syntax("the text ends inside a string");
            if ((text_[i_] & 0xC0) != 0x80)
                return syntax("ill-formed UTF-8 byte");
            code = (code << 6) | (text_[i_] & 0x3F);
            advance();
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF))) {
            return syntax("ill-formed UTF-8 byte");
        }
        put(code);
    }
}

bool sameName(const Member &m, const char *name)
{
    return m.keyLength <= NameSize && static_cast<std::size_t>(m.keyLength) == std::strlen(name) &&
           std::memcmp(m.key, name, static_cast<std::size_t>(m.keyLength)) == 0;
}

bool knownTopName(const Member &m)
{
    for (const char *key : TopKeys)
        if (sameName(m, key))
            return true;
    return false;
}

bool knownSettingName(const Member &m)
{
    for (ReaderType kind : {ReaderType::Lnx, ReaderType::Usb})
        for (int f = 0; f < settingFieldCount(kind); ++f)
            if (sameName(m, settingField(kind, f).key))
                return true;
    return false;
}

// Keeps a member of a known name, refusing one given twice, and of the
// others only the first (enough to name it; no list grows with the text).
bool Parser::keep(Member *list, int &count, Member &firstOther, bool &otherSeen, bool known, const Member &m)
{
    if (!known) {
        if (!otherSeen)
            firstOther = m;
        otherSeen = true;
        return true;
    }
    for (int k = 0; k < count; ++k) {
        if (list[k].keyLength == m.keyLength &&
            std::memcmp(list[k].key, m.key, static_cast<std::size_t>(m.keyLength)) == 0) {
            FixedText text = fail(m.keyAt);
            text.add("the key ");
            name(text, m);
            text.add(" is given twice");
            return false;
        }
    }
    list[count++] = m;
    return true;
}

bool Parser::object(int depth, int level, bool isSettings)
{
    advance();  // '{'
    skipSpace();
    if (!atEnd() && text_[i_] == '}') {
        advance();
        return true;
    }
    for (;;) {
        skipSpace();
        if (atEnd())
            return syntax("the text ends inside an object");
        if (text_[i_] != '"')
            return syntax("a key (a string) was due");
        Member m;
        m.keyAt = here_;
        if (!string(m.key, m.keyLength))
            return false;
        skipSpace();
        if (atEnd())
            return syntax("the text ends inside an object");
        if (text_[i_] != ':')
            return syntax("':' was due");
        advance();
        skipSpace();
        m.valueAt = here_;
        m.valueStart = i_;
        const bool childIsSettings = level == 1 && sameName(m, "settings");
        if (!value(depth, level + 1, childIsSettings, m.type))
            return false;
        m.valueEnd = i_;
        if (level == 1 && !keep(top_, topCount_, otherTop_, otherTopSeen_, knownTopName(m), m))
            return false;
        if (isSettings &&
            !keep(settings_, settingsCount_, otherSetting_, otherSettingSeen_, knownSettingName(m), m))
            return false;
        skipSpace();
        if (atEnd())
            return syntax("the text ends inside an object");
        if (text_[i_] == '}') {
            advance();
            return true;
        }
        if (text_[i_] != ',')
            return syntax("',' or '}' was due");
        advance();
    }
}

bool Parser::array(int depth)
{
    advance();  // '['
    skipSpace();
    if (!atEnd() && text_[i_] == ']') {
        advance();
        return true;
    }
    for (;;) {
        ValueType ignored;
        if (!value(depth, 3, false, ignored))
            return false;
        skipSpace();
        if (atEnd())
            return syntax("the text ends inside an array");
        if (text_[i_] == ']') {
            advance();
            return true;
        }
        if (text_[i_] != ',')
            return syntax("',' or ']' was due");
        advance();
    }
}

// `depth` counts the objects and arrays around the value.
bool Parser::value(int depth, int level, bool isSettings, ValueType &type)
{
    skipSpace();
    if (atEnd())
        return syntax("the text ends where a value was due");
    char decoded[NameSize + 1];
    int decodedLength;
    switch (text_[i_]) {
    case '{':
    case '[':
        if (depth >= ProfileDepthLimit) {
            fail(here_).add("nested more than ").add(static_cast<long>(ProfileDepthLimit)).add(
                " levels deep, far more than a profile is");
            return false;
        }
        type = text_[i_] == '{' ? ValueType::Object : ValueType::Array;
        return type == ValueType::Object ? object(depth + 1, level, isSettings) : array(depth + 1);
    case '"':
        type = ValueType::String;
        return string(decoded, decodedLength);
    case 't': return literal("true", ValueType::Boolean, type);
    case 'f': return literal("false", ValueType::Boolean, type);
    case 'n': return literal("null", ValueType::Null, type);
    default:
        if (text_[i_] == '-' || (text_[i_] >= '0' && text_[i_] <= '9'))
            return number(type);
        return syntax("unexpected character");
    }
}

// A string value's content, decoded (cut at NameSize bytes).
bool Parser::decodeValueString(const Member &m, char *out, int &length)
{
    const std::size_t saveI = i_;
    const Position saveHere = here_;
    i_ = m.valueStart;
    bool ok = string(out, length);
    i_ = saveI;
    here_ = saveHere;
    return ok;
}

const Member *Parser::top(const char *key) const
{
    for (int k = 0; k < topCount_; ++k)
        if (sameName(top_[k], key))
            return &top_[k];
    return nullptr;
}

// The value index for a setting, or -1 with the reason written to `why`.
// id_bytes may be written as a number or as a string.
int Parser::settingValue(ReaderType kind, int field, const Member &m, FixedText &why)
{
    const SettingField &f = settingField(kind, field);
    char value[NameSize + 1];
    int length = 0;
    if (m.type == ValueType::String) {
        decodeValueString(m, value, length);
    } else if (m.type == ValueType::Integer && std::strcmp(f.key, "id_bytes") == 0) {
        length = static_cast<int>(m.valueEnd - m.valueStart);
        std::memcpy(value, text_ + m.valueStart, static_cast<std::size_t>(length <= NameSize ? length : NameSize + 1));
    } else {
        why.add(f.key).add(" must be a string (one of ");
        addSettingValueNames(why, f);
        why.add("), not ").add(typeName(m.type));
        return -1;
    }
    int index = -1;
    if (length <= NameSize) {
        value[length] = '\0';
        // A NUL inside the value would cut the comparison short.
        if (std::strlen(value) == static_cast<std::size_t>(length))
            index = findSettingValue(f, value);
    }
    if (index < 0) {
        why.add(f.key).add(" cannot be ");
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(value);
        const int keep = shown(bytes, static_cast<std::size_t>(length));
        name(why, bytes, keep);
        if (keep < length)
            why.add("...");
        why.add(": it is one of ");
        addSettingValueNames(why, f);
    }
    return index;
}

bool Parser::check(SettingsValues &profile)
{
    if (documentType_ != ValueType::Object) {
        fail(documentAt_).add("a profile is a JSON object, not ").add(typeName(documentType_));
        return false;
    }
    // The version first: a profile from a newer program is named as such
    // rather than by what it lacks.
    if (const Member *format = top("format")) {
        char value[NameSize + 1];
        int length = 0;
        if (format->type == ValueType::String)
            decodeValueString(*format, value, length);
        if (format->type != ValueType::String || length != static_cast<int>(sizeof ProfileFormat - 1) ||
            std::memcmp(value, ProfileFormat, sizeof ProfileFormat - 1) != 0) {
            FixedText text = fail(format->valueAt);
            text.add("unknown format ");
            raw(text, *format);
            text.add(" (this program reads \"").add(ProfileFormat).add("\")");
            return false;
        }
    }
    if (otherTopSeen_) {
        FixedText text = fail(otherTop_.valueAt);
        text.add("unknown key ");
        name(text, otherTop_);
        text.add(" (a profile has format, kind and settings)");
        return false;
    }
    for (const char *key : TopKeys) {
        if (top(key) == nullptr) {
            fail(documentAt_).add("the key \"").add(key).add("\" is missing");
            return false;
        }
    }
    const Member &kindMember = *top("kind");
    ReaderType kind = ReaderType::Lnx;
    bool kindKnown = false;
    if (kindMember.type == ValueType::String) {
        char value[NameSize + 1];
        int length = 0;
        decodeValueString(kindMember, value, length);
        if (length <= NameSize) {
            value[length] = '\0';
            kindKnown = std::strlen(value) == static_cast<std::size_t>(length) && readerKindFromName(value, kind);
        }
    }
    if (!kindKnown) {
        FixedText text = fail(kindMember.valueAt);
        text.add("kind must be \"lnx\" or \"usb\", not ");
        raw(text, kindMember);
        return false;
    }
    const Member &settingsMember = *top("settings");
    if (settingsMember.type != ValueType::Object) {
        fail(settingsMember.valueAt).add("settings must be an object, not ").add(typeName(settingsMember.type));
        return false;
    }

    SettingsValues result;
    result.kind = kind;
    // In the order they are written: the kept settings, and the first
    // other key where it stands.
    bool otherDone = !otherSettingSeen_;
    for (int k = 0; k <= settingsCount_; ++k) {
        const Member *m = k < settingsCount_ ? &settings_[k] : nullptr;
        if (!otherDone && (m == nullptr || otherSetting_.valueStart < m->valueStart)) {
            otherDone = true;
            m = &otherSetting_;
            --k;
        }
        if (m == nullptr)
            break;
        int field = -1;
        for (int f = 0; f < settingFieldCount(kind); ++f)
            if (sameName(*m, settingField(kind, f).key))
                field = f;
        if (field < 0) {
            FixedText text = fail(m->valueAt);
            text.add("unknown setting ");
            name(text, *m);
            text.add(" for a ").add(readerKindName(kind)).add(" reader (its settings are ");
            addSettingKeyNames(text, kind);
            text.add(")");
            return false;
        }
        char why[ProfileErrorSize];
        FixedText reason(why, sizeof why);
        int value = settingValue(kind, field, *m, reason);
        if (value < 0) {
            fail(m->valueAt).add(why);
            return false;
        }
        result.value[field] = value;
    }
    for (int field = 0; field < settingFieldCount(kind); ++field) {
        if (result.value[field] < 0) {
            FixedText text = fail(settingsMember.valueAt);
            text.add("the setting \"").add(settingField(kind, field).key).add("\" is missing (a ");
            text.add(readerKindName(kind)).add(" profile has ");
            addSettingKeyNames(text, kind);
            text.add(")");
            return false;
        }
    }
    profile = result;
    return true;
}

bool Parser::parse(SettingsValues &profile)
{
    if (length_ > ProfileSizeLimit) {
        // Only the first byte past the limit matters: name where it is.
        while (i_ < ProfileSizeLimit)
            advance();
        fail(here_).add("the file goes on past 64 KiB (").add(static_cast<long>(ProfileSizeLimit)).add(
            " bytes), more than a profile can be");
        return false;
    }
    skipSpace();
    documentAt_ = here_;
    if (!value(0, 1, false, documentType_))
        return false;
    skipSpace();
    if (!atEnd())
        return syntax("more text after the document");
    return check(profile);
}

}  // namespace

bool parseProfileText(const char *text, std::size_t length, SettingsValues &profile, char *error, int errorSize)
{
    if (errorSize > 0)
        error[0] = '\0';
    Parser parser(text, length, error, errorSize);
    return parser.parse(profile);
}

void addSettingValueNames(FixedText &text, const SettingField &field)
{
    for (int k = 0; k < field.valueCount; ++k) {
        if (k)
            text.add(k + 1 == field.valueCount ? " or " : ", ");
        text.add(field.values[k].name);
    }
}

void addSettingKeyNames(FixedText &text, ReaderType kind)
{
    for (int k = 0; k < settingFieldCount(kind); ++k) {
        if (k)
            text.add(", ");
        text.add(settingField(kind, k).key);
    }
}

int writeProfileText(const SettingsValues &settings, char *buffer, int size)
{
    if (!settingsComplete(settings) || size <= 0)
        return -1;
    // Wire order reads best, so the keys stand in that order.
    FixedText text(buffer, size);
    text.add("{\n  \"format\": \"").add(ProfileFormat).add("\",\n  \"kind\": \"").add(readerKindName(settings.kind));
    text.add("\",\n  \"settings\": {\n");
    const int fields = settingFieldCount(settings.kind);
    for (int f = 0; f < fields; ++f) {
        const SettingField &field = settingField(settings.kind, f);
        text.add("    \"").add(field.key).add("\": \"").add(field.values[settings.value[f]].name).add("\"");
        text.add(f + 1 < fields ? ",\n" : "\n");
    }
    text.add("  }\n}\n");
    return text.wasCut() ? -1 : text.length();
}
