#include "random_articles.h"

std::vector<std::string> random_articles(const std::string (&groups)[3], int run, int count,
                                         std::mt19937& random)
{
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        unsigned pick = random() % 16;
        std::string article = groups[pick < 7 ? 0 : pick < 15 ? 1 : 2] + "/" +
                              std::to_string(run) + "/" + std::to_string(i);
        if (random() % 8 == 0)
            article += "/" + std::string(1000 + random() % 1000, 'x');
        args.push_back(article);
    }
    return args;
}
