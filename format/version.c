/* The version file and its reading. See rungame_format.h. */
#include "rungame_format.h"

#include <stdlib.h>
#include <string.h>

#include "../rules/rungame_rules.h"

/* The version file, read as the launcher reads it: TinyXML 2.6 as the
 * launcher calls it (the encoding told by a byte order mark or the first
 * declaration, white space condensed), its steps followed one by one without
 * building a tree, so that the same text gives the same version or is
 * refused alike: a document TinyXML stops on with an error (an element left
 * open, an end tag of another name, an attribute twice, a reference it
 * cannot read, ...) has no version, wherever the error stands. */

/* A number as the launcher reads an attribute value: strtoll in base 10,
 * then saturated to 32 bits; fed one decoded byte at a time. */
typedef struct XmlNumber {
  int state; /* 0: before it, 1: after its sign, 2: in its digits, 3: past it */
  int negative;
  long long value; /* saturating just past 2^31 */
} XmlNumber;

/* The first bytes of the declaration's encoding, as TinyXML compares them. */
typedef struct XmlCapture {
  char bytes[6];
  size_t length;
} XmlCapture;

typedef struct XmlReader {
  int utf8;        /* the encoding is UTF-8 */
  int encodingSet; /* told by a byte order mark or a declaration */
  int error;
  int found;
  long x, y;
  /* The names of the attributes of the element being read. */
  const char* names[RUNGAME_XML_MAX_ATTRIBUTES];
  size_t nameLengths[RUNGAME_XML_MAX_ATTRIBUTES];
  size_t attributeCount;
} XmlReader;

/* Where a decoded value's bytes go: a number, the encoding, or nowhere. */
typedef struct XmlSink {
  XmlNumber* number;
  XmlCapture* capture;
} XmlSink;

static int IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

/* TinyXML's letters: ASCII ones, and every byte from 127 on. */
static int IsXmlAlpha(unsigned char c) { return c >= 127 || ((c | 32) >= 'a' && (c | 32) <= 'z'); }
static int IsXmlAlphaNum(unsigned char c) { return IsXmlAlpha(c) || (c >= '0' && c <= '9'); }

static void FeedNumber(XmlNumber* number, char c) {
  if (number->state == 0 && IsXmlSpace(c)) return;
  if (number->state == 0 && (c == '+' || c == '-')) {
    number->negative = c == '-';
    number->state = 1;
  } else if ((number->state <= 2) && c >= '0' && c <= '9') {
    if (number->value <= 2147483648LL) number->value = number->value * 10 + (c - '0');
    number->state = 2;
  } else {
    number->state = 3;
  }
}

static long NumberValue(const XmlNumber* number) {
  if (number->negative) return number->value >= 2147483648LL ? (long)(-2147483647L - 1) : (long)-number->value;
  return number->value > 2147483647LL ? 2147483647L : (long)number->value;
}

static void Feed(XmlSink* sink, const char* bytes, int length) {
  int i;
  for (i = 0; sink != NULL && i < length; ++i) {
    if (sink->number != NULL) FeedNumber(sink->number, bytes[i]);
    if (sink->capture != NULL && sink->capture->length < sizeof sink->capture->bytes - 1) {
      sink->capture->bytes[sink->capture->length++] = bytes[i];
    }
  }
}

/* Whether `p` starts with `tag`, ASCII letter case aside when `ignoreCase`. */
static int XmlStartsWith(const char* p, const char* tag, int ignoreCase) {
  for (; *tag != '\0'; ++p, ++tag) {
    char a = ignoreCase ? rungame_ascii_lower(*p) : *p;
    char b = ignoreCase ? rungame_ascii_lower(*tag) : *tag;
    if (*p == '\0' || a != b) return 0;
  }
  return 1;
}

static const char* XmlSkipSpace(const XmlReader* reader, const char* p) {
  if (p == NULL || *p == '\0') return NULL;
  for (;;) {
    const unsigned char* u = (const unsigned char*)p;
    if (reader->utf8 && u[0] == 0xEF &&
        ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)))) {
      p += 3;
    } else if (IsXmlSpace(*p)) {
      ++p;
    } else {
      return p;
    }
  }
}

/* A name: a letter or '_', then letters, digits, '_', '-', '.', ':'. */
static const char* XmlReadName(const char* p) {
  if (p == NULL || !(IsXmlAlpha((unsigned char)*p) || *p == '_')) return NULL;
  while (IsXmlAlphaNum((unsigned char)*p) || *p == '_' || *p == '-' || *p == '.' || *p == ':') ++p;
  return p;
}

static void ToUtf8(unsigned long code, char* out, int* length) {
  static const unsigned char firstByteMark[5] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};
  int i;
  *length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : code < 0x200000 ? 4 : 0;
  for (i = *length - 1; i > 0; --i) {
    out[i] = (char)((code | 0x80) & 0xBF);
    code >>= 6;
  }
  if (*length > 0) out[0] = (char)(code | firstByteMark[*length]);
}

/* A reference at `p` ('&'): its bytes into `out`, `length` of them (none
 * for an unknown one, whose '&' is dropped); NULL for a character
 * reference it cannot read. Its arithmetic is 32 bits wide, as on Windows. */
static const char* XmlReadReference(const XmlReader* reader, const char* p, char* out, int* length) {
  static const struct {
    const char* text;
    char value;
  } named[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  size_t i;
  *length = 0;
  if (p[1] == '#' && p[2] != '\0') {
    int hex = p[2] == 'x';
    unsigned long code = 0;
    unsigned long multiplier = 1;
    const char* q;
    const char* semicolon;
    if (hex && p[3] == '\0') return NULL;
    semicolon = strchr(p + (hex ? 3 : 2), ';');
    if (semicolon == NULL) return NULL;
    for (q = semicolon - 1; *q != (hex ? 'x' : '#'); --q) {
      unsigned long digit;
      if (*q >= '0' && *q <= '9') {
        digit = (unsigned long)(*q - '0');
      } else if (hex && *q >= 'a' && *q <= 'f') {
        digit = (unsigned long)(*q - 'a' + 10);
      } else if (hex && *q >= 'A' && *q <= 'F') {
        digit = (unsigned long)(*q - 'A' + 10);
      } else {
        return NULL;
      }
      code = (code + ((multiplier * digit) & 0xFFFFFFFFUL)) & 0xFFFFFFFFUL;
      multiplier = (multiplier * (hex ? 16 : 10)) & 0xFFFFFFFFUL;
    }
    if (reader->utf8) {
      ToUtf8(code, out, length);
    } else {
      out[0] = (char)(code & 0xFF);
      *length = 1;
    }
    return semicolon + 1;
  }
  for (i = 0; i < sizeof named / sizeof named[0]; ++i) {
    if (strncmp(named[i].text, p, strlen(named[i].text)) == 0) {
      out[0] = named[i].value;
      *length = 1;
      return p + strlen(named[i].text);
    }
  }
  return p + 1;
}

/* One character at `p`: a UTF-8 sequence whole, a reference decoded. */
static const char* XmlReadChar(const XmlReader* reader, const char* p, char* out, int* length) {
  unsigned char lead = (unsigned char)*p;
  int i;
  *length = !reader->utf8 || lead < 0xC2 || lead > 0xF4 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (*length == 1) {
    if (*p == '&') return XmlReadReference(reader, p, out, length);
    out[0] = *p;
    return p + 1;
  }
  for (i = 0; i < *length; ++i) {
    if (p[i] == '\0') return NULL; /* a sequence cut short by the end */
    out[i] = p[i];
  }
  return p + *length;
}

/* Text up to `endTag`, decoded into `sink`; past the end tag, or NULL when
 * the text ends there or before it. */
static const char* XmlReadText(const XmlReader* reader, const char* p, XmlSink* sink, int trim, const char* endTag) {
  if (trim) p = XmlSkipSpace(reader, p);
  while (p != NULL && *p != '\0' && !XmlStartsWith(p, endTag, 0)) {
    char bytes[4];
    int length = 0;
    if (trim && IsXmlSpace(*p)) {
      ++p;
      continue;
    }
    p = XmlReadChar(reader, p, bytes, &length);
    if (p != NULL) Feed(sink, bytes, length);
  }
  if (p != NULL && *p != '\0') p += strlen(endTag);
  return p != NULL && *p != '\0' ? p : NULL;
}

/* name="value": the name's place and length, the value into `sink` (or
 * into the element's x or y when `reader` has a version to read). */
static const char* XmlReadAttribute(const XmlReader* reader, const char* p, const char** name, size_t* nameLength,
                                    XmlSink* sink) {
  const char* end;
  p = XmlSkipSpace(reader, p);
  if (p == NULL) return NULL;
  *name = p;
  end = XmlReadName(p);
  if (end == NULL || *end == '\0') return NULL;
  *nameLength = (size_t)(end - p);
  p = XmlSkipSpace(reader, end);
  if (p == NULL || *p != '=') return NULL;
  p = XmlSkipSpace(reader, p + 1);
  if (p == NULL) return NULL;
  if (*p == '"' || *p == '\'') {
    char quote[2];
    quote[0] = *p;
    quote[1] = '\0';
    return XmlReadText(reader, p + 1, sink, 0, quote);
  }
  for (; *p != '\0' && !IsXmlSpace(*p) && *p != '/' && *p != '>'; ++p) {
    if (*p == '"' || *p == '\'') return NULL;
    Feed(sink, p, 1);
  }
  return p;
}

static const char* XmlReadNode(XmlReader* reader, const char* p, int depth);

/* An element's content up to its end tag: at that "</", or NULL. */
static const char* XmlReadContent(XmlReader* reader, const char* p, int depth) {
  p = XmlSkipSpace(reader, p);
  while (p != NULL && *p != '\0') {
    if (*p != '<') {
      p = XmlReadText(reader, p, NULL, 1, "<");
      if (p != NULL) --p; /* back to the '<' */
    } else if (XmlStartsWith(p, "</", 0)) {
      return p;
    } else {
      p = XmlReadNode(reader, p, depth);
    }
    p = XmlSkipSpace(reader, p);
  }
  if (p == NULL) reader->error = 1;
  return p;
}

static const char* XmlFail(XmlReader* reader) {
  reader->error = 1;
  return NULL;
}

/* An element at `p` ('<' and a letter or '_'), its content included. */
static const char* XmlReadElement(XmlReader* reader, const char* p, int depth) {
  const char* name = p + 1;
  size_t nameLength;
  XmlNumber x, y;
  int hasX = 0, hasY = 0;
  p = XmlReadName(name);
  if (p == NULL || *p == '\0' || depth > 4 * RUNGAME_XML_MAX_DEPTH) return XmlFail(reader);
  nameLength = (size_t)(p - name);
  memset(&x, 0, sizeof x);
  memset(&y, 0, sizeof y);
  reader->attributeCount = 0;
  for (;;) {
    const char* attribute = NULL;
    size_t attributeLength = 0;
    XmlNumber ignored;
    XmlSink sink;
    size_t i;
    p = XmlSkipSpace(reader, p);
    if (p == NULL) return XmlFail(reader);
    if (*p == '/' || *p == '>') break;
    /* The attribute's name decides where its value goes; read it first. */
    {
      const char* at = p;
      const char* end = XmlReadName(at);
      int isX = end == at + 1 && *at == 'x';
      int isY = end == at + 1 && *at == 'y';
      memset(&ignored, 0, sizeof ignored);
      sink.number = isX ? &x : isY ? &y : &ignored;
      sink.capture = NULL;
      hasX |= isX;
      hasY |= isY;
    }
    p = XmlReadAttribute(reader, p, &attribute, &attributeLength, &sink);
    if (p == NULL || *p == '\0') return XmlFail(reader);
    for (i = 0; i < reader->attributeCount; ++i) {
      if (reader->nameLengths[i] == attributeLength && memcmp(reader->names[i], attribute, attributeLength) == 0) {
        return XmlFail(reader); /* an attribute twice */
      }
    }
    if (reader->attributeCount == RUNGAME_XML_MAX_ATTRIBUTES) return XmlFail(reader);
    reader->names[reader->attributeCount] = attribute;
    reader->nameLengths[reader->attributeCount++] = attributeLength;
  }
  /* The launcher's version: the first top-level "version" with x and y. */
  if (depth == 1 && hasX && hasY && !reader->found && rungame_equals_ascii_case_n(name, nameLength, "version")) {
    reader->found = 1;
    reader->x = NumberValue(&x);
    reader->y = NumberValue(&y);
  }
  if (*p == '/') return p[1] == '>' ? p + 2 : XmlFail(reader);
  p = XmlReadContent(reader, p + 1, depth);
  if (p == NULL || *p == '\0' || strncmp(p + 2, name, nameLength) != 0) return XmlFail(reader);
  p = XmlSkipSpace(reader, p + 2 + nameLength);
  return p != NULL && *p == '>' ? p + 1 : XmlFail(reader);
}

/* The declaration at `p` ("<?xml", any case); its encoding into `encoding`.
 * NULL when it does not end well (which ends the document, no error). */
static const char* XmlReadDeclaration(XmlReader* reader, const char* p, XmlCapture* encoding) {
  p += 5;
  while (p != NULL && *p != '\0') {
    if (*p == '>') return p + 1;
    p = XmlSkipSpace(reader, p);
    if (p == NULL) break;
    if (XmlStartsWith(p, "version", 1) || XmlStartsWith(p, "standalone", 1)) {
      const char* name;
      size_t nameLength;
      p = XmlReadAttribute(reader, p, &name, &nameLength, NULL);
    } else if (XmlStartsWith(p, "encoding", 1)) {
      const char* name;
      size_t nameLength;
      XmlSink sink;
      sink.number = NULL;
      sink.capture = encoding;
      encoding->length = 0;
      p = XmlReadAttribute(reader, p, &name, &nameLength, &sink);
    } else {
      while (*p != '\0' && *p != '>' && !IsXmlSpace(*p)) ++p;
    }
  }
  return NULL;
}

/* One node at `p` ('<'): an element (with all it holds), a declaration, a
 * comment, a CDATA section or anything else up to its '>'. */
static const char* XmlReadNode(XmlReader* reader, const char* p, int depth) {
  if (XmlStartsWith(p, "<?xml", 1)) {
    XmlCapture encoding;
    memset(&encoding, 0, sizeof encoding);
    p = XmlReadDeclaration(reader, p, &encoding);
    if (depth == 0 && !reader->encodingSet) {
      /* The first declaration at the top tells the encoding: UTF-8 unless
         it names another. */
      reader->encodingSet = 1;
      reader->utf8 = encoding.length == 0 || encoding.bytes[0] == '\0' ||
                     XmlStartsWith(encoding.bytes, "utf-8", 1) || XmlStartsWith(encoding.bytes, "utf8", 1);
    }
    return p;
  }
  if (XmlStartsWith(p, "<!--", 0)) {
    p += 4;
    while (*p != '\0' && !XmlStartsWith(p, "-->", 0)) ++p;
    return *p != '\0' ? p + 3 : p;
  }
  if (XmlStartsWith(p, "<![CDATA[", 0)) {
    p += 9;
    while (*p != '\0' && !XmlStartsWith(p, "]]>", 0)) ++p;
    return XmlReadText(reader, p, NULL, 0, "]]>");
  }
  if (!XmlStartsWith(p, "<!", 0) && (IsXmlAlpha((unsigned char)p[1]) || p[1] == '_')) {
    return XmlReadElement(reader, p, depth + 1);
  }
  ++p;
  while (*p != '\0' && *p != '>') ++p;
  return *p == '>' ? p + 1 : p;
}

int rungame_read_version_text(const char* text, size_t size, long* x, long* y) {
  XmlReader* reader;
  char* copy;
  const char* p;
  size_t length = 0;
  size_t i;
  int nodes = 0;
  int found;
  if (text == NULL || size > RUNGAME_MAX_VERSION_FILE) return 0;
  /* As TinyXML's own file loading does: the text ends at its first NUL, and
     every CR LF and lone CR becomes LF. */
  while (length < size && text[length] != '\0') ++length;
  copy = (char*)malloc(length + 1);
  reader = (XmlReader*)calloc(1, sizeof *reader);
  if (copy == NULL || reader == NULL) {
    free(copy);
    free(reader);
    return 0;
  }
  for (i = 0, size = 0; i < length; ++i) {
    copy[size++] = text[i] == '\r' ? '\n' : text[i];
    if (text[i] == '\r' && i + 1 < length && text[i + 1] == '\n') ++i;
  }
  copy[size] = '\0';
  reader->error = size == 0 || !rungame_xml_within_limits(copy, size);
  if (!reader->error && (unsigned char)copy[0] == 0xEF && (unsigned char)copy[1] == 0xBB &&
      (unsigned char)copy[2] == 0xBF) {
    reader->utf8 = 1;
    reader->encodingSet = 1;
  }
  p = reader->error ? NULL : XmlSkipSpace(reader, copy);
  while (p != NULL && *p == '<' && !reader->error) {
    p = XmlSkipSpace(reader, XmlReadNode(reader, p, 0));
    ++nodes;
  }
  /* Text at the top ends the document; nothing before it is no document. */
  found = !reader->error && nodes > 0 && reader->found;
  if (found) {
    *x = reader->x;
    *y = reader->y;
  }
  free(copy);
  free(reader);
  return found;
}
