// The two kinds of program agree on the text except at its end: the buffer
// routine stops after exactly N passes, dropping held nines and writing its
// predigit before any later carry could raise it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "computepi.h"
#include "pidigits.h"
#include "sweep.h"


TEST(agreement, BufferTextIsTheGeneratorTextUpToItsLastCharacter)
{
    for (int n = 0; n <= testsupport::sweeplimit(); ++n) {
        std::vector<char> buffer(static_cast<std::size_t>(n) + 2);
        ASSERT_EQ(computepi(n, buffer.data()), computepi_ok);
        const std::string fromBuffer = buffer.data();
        const std::string fromGenerator = generator::pidigits(n);

        ASSERT_EQ(fromGenerator.size(), static_cast<std::size_t>(n) + 1);
        ASSERT_LE(fromBuffer.size(), fromGenerator.size()) << "N = " << n;
        const std::size_t last = fromBuffer.size() - 1;
        ASSERT_EQ(fromBuffer.substr(0, last), fromGenerator.substr(0, last)) << "N = " << n;
        // Only a carry can still reach the predigit, raising it by one.
        const char later = fromGenerator[last];
        ASSERT_TRUE(later == fromBuffer[last] || later == fromBuffer[last] + 1) << "N = " << n;
    }
}
