#pragma once
// The result list as the query sees it: count the lines, read line i, add a line. The desktop
// program adapts its list box, the console program a vector.

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

namespace vesperlin::query {

class ResultList {
  public:
    virtual ~ResultList() = default;
    virtual std::size_t Count() const = 0;
    virtual std::string Line(std::size_t index) const = 0;
    virtual void Add(const std::string& line) = 0;
    // Whether an identical line is listed. Reads every line in order; a list that can answer
    // faster overrides it (a folder query can find tens of thousands of lines).
    virtual bool Contains(const std::string& line) const {
        const std::size_t count = Count();
        for (std::size_t i = 0; i < count; ++i) {
            if (Line(i) == line) return true;
        }
        return false;
    }
};

// A result list kept in memory, in insertion order.
class VectorResultList : public ResultList {
  public:
    std::size_t Count() const override { return lines.size(); }
    std::string Line(std::size_t index) const override { return lines.at(index); }
    void Add(const std::string& line) override { lines.push_back(line); }
    const std::vector<std::string>& Lines() const { return lines; }

  private:
    std::vector<std::string> lines;
};

}  // namespace vesperlin::query
