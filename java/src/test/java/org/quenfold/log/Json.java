package org.quenfold.log;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A small strict JSON reader (RFC 8259) for the shared test data: objects as
 * maps, arrays as lists, numbers as Long (integers) or Double.
 */
final class Json {
    private final String s;
    private int i;

    private Json(String s) {
        this.s = s;
    }

    static Object parse(String text) {
        Json p = new Json(text);
        Object v = p.value();
        p.space();
        if (p.i != text.length()) {
            throw p.error("trailing text");
        }
        return v;
    }

    private IllegalArgumentException error(String what) {
        return new IllegalArgumentException("JSON: " + what + " at offset " + i);
    }

    private void space() {
        while (i < s.length() && " \t\r\n".indexOf(s.charAt(i)) >= 0) {
            i++;
        }
    }

    private boolean eat(char c) {
        space();
        if (i < s.length() && s.charAt(i) == c) {
            i++;
            return true;
        }
        return false;
    }

    private void expect(char c) {
        if (!eat(c)) {
            throw error("expected '" + c + "'");
        }
    }

    private Object value() {
        space();
        if (i >= s.length()) {
            throw error("unexpected end");
        }
        char c = s.charAt(i);
        if (c == '{') {
            i++;
            Map<String, Object> m = new LinkedHashMap<>();
            if (!eat('}')) {
                do {
                    space();
                    String key = string();
                    expect(':');
                    m.put(key, value());
                } while (eat(','));
                expect('}');
            }
            return m;
        }
        if (c == '[') {
            i++;
            List<Object> l = new ArrayList<>();
            if (!eat(']')) {
                do {
                    l.add(value());
                } while (eat(','));
                expect(']');
            }
            return l;
        }
        if (c == '"') {
            return string();
        }
        for (String word : new String[] {"true", "false", "null"}) {
            if (s.startsWith(word, i)) {
                i += word.length();
                return word.equals("null") ? null : Boolean.valueOf(word);
            }
        }
        int start = i;
        while (i < s.length() && "+-0123456789.eE".indexOf(s.charAt(i)) >= 0) {
            i++;
        }
        String number = s.substring(start, i);
        if (number.isEmpty()) {
            throw error("unexpected character");
        }
        return number.matches("-?\\d+") ? (Object) Long.valueOf(number) : (Object) Double.valueOf(number);
    }

    private String string() {
        if (i >= s.length() || s.charAt(i) != '"') {
            throw error("expected a string");
        }
        i++;
        StringBuilder out = new StringBuilder();
        while (true) {
            if (i >= s.length()) {
                throw error("unterminated string");
            }
            char c = s.charAt(i++);
            if (c == '"') {
                return out.toString();
            }
            if (c != '\\') {
                out.append(c);
                continue;
            }
            char e = s.charAt(i++);
            switch (e) {
                case 'n': out.append('\n'); break;
                case 't': out.append('\t'); break;
                case 'r': out.append('\r'); break;
                case 'b': out.append('\b'); break;
                case 'f': out.append('\f'); break;
                case 'u': out.append((char) Integer.parseInt(s.substring(i, i + 4), 16)); i += 4; break;
                default: out.append(e);
            }
        }
    }
}
