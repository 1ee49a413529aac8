#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

// Plain binary files of trivially copyable records, written by one process of
// the benchmark and read by the driver on the same machine.
class RecordFile
{
public:
    RecordFile(const std::string &path, const char *mode) : m_file(std::fopen(path.c_str(), mode))
    {
        if (!m_file)
            throw std::runtime_error("cannot open " + path);
    }
    ~RecordFile() { std::fclose(m_file); }
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    template <typename T> void write(const T &value) { writeArray(&value, 1); }
    template <typename T> void writeArray(const T *values, std::size_t count)
    {
        if (count && std::fwrite(values, sizeof(T), count, m_file) != count)
            throw std::runtime_error("short write");
    }
    template <typename T> T read()
    {
        T value{};
        readArray(&value, 1);
        return value;
    }
    template <typename T> std::vector<T> readVector(std::size_t count)
    {
        std::vector<T> values(count);
        readArray(values.data(), count);
        return values;
    }

private:
    template <typename T> void readArray(T *values, std::size_t count)
    {
        if (count && std::fread(values, sizeof(T), count, m_file) != count)
            throw std::runtime_error("short read");
    }

    std::FILE *m_file;
};
