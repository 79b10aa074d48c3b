// Placeholder until feedgroups is built.
int main()
{
    return 1;
}
