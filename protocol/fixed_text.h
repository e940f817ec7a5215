// Building messages in fixed buffers, for code that must not allocate or
// throw (it also runs compiled to WebAssembly).
#ifndef VELMORA_PROTOCOL_FIXED_TEXT_H
#define VELMORA_PROTOCOL_FIXED_TEXT_H

// Appends to a fixed, always terminated buffer; what does not fit is cut,
// at a character boundary.
class FixedText {
public:
    FixedText(char *buffer, int size) : buffer_(buffer), size_(size) { buffer_[0] = '\0'; }
    FixedText &add(const char *text)
    {
        while (*text)
            put(*text++);
        return *this;
    }
    FixedText &add(const char *text, int count)
    {
        for (int i = 0; i < count; ++i)
            put(text[i]);
        return *this;
    }
    FixedText &add(long number)
    {
        char digits[24];
        int n = 0;
        unsigned long magnitude =
            number < 0 ? 0UL - static_cast<unsigned long>(number) : static_cast<unsigned long>(number);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (number < 0)
            put('-');
        while (n > 0)
            put(digits[--n]);
        return *this;
    }
    // Bytes as printable text: anything outside printable ASCII, and the
    // backslash, as \xNN.
    FixedText &bytes(const unsigned char *data, int count)
    {
        static const char hex[] = "0123456789ABCDEF";
        for (int i = 0; i < count; ++i) {
            unsigned char c = data[i];
            if (c >= 0x20 && c < 0x7F && c != '\\') {
                put(static_cast<char>(c));
            } else {
                put('\\');
                put('x');
                put(hex[c >> 4]);
                put(hex[c & 15]);
            }
        }
        return *this;
    }
    int length() const { return length_; }
    // Whether anything was cut.
    bool wasCut() const { return cut_; }

private:
    void put(char c)
    {
        if (length_ + 1 < size_) {
            buffer_[length_++] = c;
            buffer_[length_] = '\0';
        } else if (!cut_) {
            cut_ = true;
            dropPartialCharacter();
        }
    }
    // A text cut short ends on a whole UTF-8 character.
    void dropPartialCharacter()
    {
        int lead = length_;
        while (lead > 0 && (static_cast<unsigned char>(buffer_[lead - 1]) & 0xC0) == 0x80)
            --lead;
        if (lead == 0)
            return;
        const unsigned char first = static_cast<unsigned char>(buffer_[lead - 1]);
        const int need = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        if (length_ - (lead - 1) < need) {
            length_ = lead - 1;
            buffer_[length_] = '\0';
        }
    }
    char *buffer_;
    int size_;
    int length_ = 0;
    bool cut_ = false;
};

#endif
