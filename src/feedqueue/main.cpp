// Placeholder until feedqueue is built.
int main()
{
    return 1;
}
